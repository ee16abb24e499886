/*
 * vorn_if: client interface of the beam-position feedback unit.
 *
 * Loading the library opens the sample-stream device, the mailbox device and
 * the control-lock file; unloading releases them.  Every function runs on the
 * caller's thread and reports by its result only.
 *
 * Most functions are C++ functions whose linkage names encode their parameter
 * types; the five readers in the extern "C" block and the globals have plain
 * names.  A C translation unit sees only the plain-named part.
 */
#ifndef VORN_IF_H
#define VORN_IF_H

#include <signal.h>
#include <stdint.h>

#include <fftw3.h>

#pragma GCC visibility push(default)

/* Login levels held in loginLevel. */
enum {
    LEVEL_VIEW = 0,
    LEVEL_OPERATOR = 1,
    LEVEL_EXPERT = 2
};

#ifdef __cplusplus
extern "C" {
#endif

/* Process-wide state, set up when the library is loaded. */
extern int fd_DMA;          /* sample-stream device, -1 if it did not open */
extern int fd_Mbox;         /* mailbox device, -1 if it did not open */
extern int fd_Lock;         /* control-lock file, -1 if it did not open */
extern int loginLevel;      /* LEVEL_VIEW, LEVEL_OPERATOR or LEVEL_EXPERT; also written by the SIGUSR1 handler */
extern int SAMP_FREQ;       /* sampling frequency of the stream in Hz, 1000 at load; clients may set it */
extern double *in;          /* 2048 transform inputs, owned by the library */
extern fftw_complex *out;   /* 1025 transform outputs, owned by the library */
extern fftw_plan p;         /* 2048-point real-to-complex plan from in to out */

/* Sample stream: each call takes one block of records from the stream with one
 * read.  The readers return the number of samples delivered, that is the whole
 * records received, or -1 when they refuse the call or the read fails. */
int getPosArray(double *x, double *y, double *i0, uint32_t n);
int getCurrentArray(double *currents, uint32_t count);
/* Returns 0, or -1 when it refuses the call or the block of 2048 records could
 * not be read in full. */
int getFFT(int channel, double *amplitude, double *frequency, int removeMean);

/* Mailbox readings. */
int getPosStats(int unused, double *xFirst, double *xSecond, double *yFirst, double *ySecond,
                double *ch2First, double *ch2Second);
int getSFPinfo(int index, int16_t *value16, int32_t *valueA, int32_t *valueB, int32_t *valueC);

#ifdef __cplusplus
}

/* Lifecycle; run by the dynamic loader. */
void my_init();
void my_fini();

/* Login and control lock. */
int getLock(const char *name, const char *password);
int getLockStatus();
int getVornLock(int fd);
int releaseVornLock(int fd);
void lock_sigaction(int signal, siginfo_t *info, void *context);

/* Calibration file. */
int getBPMscaling(double *scaleX, double *scaleY);
int getROCandROI(double *roiX, double *roiY, double *roiI0min, double *roiI0max, double *roc);

/* Spectrum helper: magnitude of one complex value stored as {re, im}. */
double fftw_abs(double *bin);

/* Position-processing module. */
int setWindAvg(char mode, unsigned int value);
int setCrossBar(unsigned char a, unsigned char b, unsigned char c, unsigned char d, unsigned char e);
int setBPMorient(unsigned char a, unsigned char b);
int setFBenable(int enable);

/* Feedback controller: tuning. */
int setPIDparams(char channel, double p1, double p2, double p3, double p4, double p5, double p6,
                 double p7, double p8);
int setPIDconf(char conf);
int getPIDconf(char *conf);
int setPIDoutSel(unsigned char sel1, unsigned char sel2, unsigned char sel3);
int setROC(char channel, double roc1, double roc2);
int setOffset(double offset0, double offset1, double offset2);

/* Feedback controller: setpoints, status, reset. */
int setSetpoint(char channel, double setpoint);
int getSetpoint(char channel, double *setpoint);
int getPIDstatus();
int setCtrlReset();
#endif /* __cplusplus */

#pragma GCC visibility pop

#endif /* VORN_IF_H */
