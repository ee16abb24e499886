// Tuning commands of the feedback controller.
#include "vorn_if.h"

int setPIDparams(char, double, double, double, double, double, double, double, double) { return -1; }
int setPIDconf(char) { return -1; }
int getPIDconf(char*) { return -1; }
int setPIDoutSel(unsigned char, unsigned char, unsigned char) { return -1; }
int setROC(char, double, double) { return -1; }
int setOffset(double, double, double) { return -1; }
