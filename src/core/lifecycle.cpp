// Load and unload hooks and the process-wide state they own.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "vorn_if.h"
#include "core/device_paths.h"
#include "core/transform_set.h"

int fd_DMA = 0;
int fd_Mbox = 0;
int fd_Lock = 0;
int loginLevel = LEVEL_VIEW;
int SAMP_FREQ = 1000;
double* in = nullptr;
fftw_complex* out = nullptr;
fftw_plan p = nullptr;

namespace {

// The SIGUSR1 action that loading replaced; unloading puts it back so that a
// late signal never jumps into code that is no longer mapped.
struct sigaction replaced_sigusr1_action;
bool sigusr1_action_replaced = false;

void install_lock_handler() {
    struct sigaction action = {};
    action.sa_sigaction = lock_sigaction;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigusr1_action_replaced = sigaction(SIGUSR1, &action, &replaced_sigusr1_action) == 0;
}

void restore_replaced_handler() {
    if (sigusr1_action_replaced) {
        sigaction(SIGUSR1, &replaced_sigusr1_action, nullptr);
        sigusr1_action_replaced = false;
    }
}

int open_lock_file() {
    // O_NOFOLLOW: a link planted at the path by another account must not be
    // followed and then made world-writable.
    int fd = open(vorn::kLockFile, O_RDWR | O_CREAT | O_SYNC | O_NOFOLLOW, 0666);
    struct stat status;
    if (fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        fchmod(fd, 0666);
    }
    return fd;
}

// FFTW keeps its planner in its own static data. Were FFTW unloaded together
// with this library, that memory would be lost at every unload; pinning FFTW
// keeps one planner for every load, and leaves FFTW itself (which the client
// may use too) untouched.
void pin_transform_library() {
    Dl_info fftw;
    if (dladdr(reinterpret_cast<void*>(&fftw_plan_dft_r2c_1d), &fftw) != 0) {
        if (void* handle = dlopen(fftw.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) {
            dlclose(handle);
        }
    }
}

void make_transform_set() {
    pin_transform_library();
    in = static_cast<double*>(fftw_malloc(sizeof(double) * vorn::kTransformPoints));
    out = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * vorn::kTransformBins));
    if (in != nullptr && out != nullptr) {
        p = fftw_plan_dft_r2c_1d(vorn::kTransformPoints, in, out, FFTW_ESTIMATE);
    }
}

void release_transform_set() {
    if (p != nullptr) {
        fftw_destroy_plan(p);
    }
    fftw_free(in);
    fftw_free(out);
    p = nullptr;
    in = nullptr;
    out = nullptr;
}

}  // namespace

__attribute__((constructor)) void my_init() {
    puts("vorn_if lib loaded\n");
    fflush(stdout);
    fd_DMA = open(vorn::kSampleStreamDevice, O_RDONLY);
    fd_Mbox = open(vorn::kMailboxDevice, O_RDWR);
    install_lock_handler();
    fd_Lock = open_lock_file();
    make_transform_set();
}

__attribute__((destructor)) void my_fini() {
    release_transform_set();
    close(fd_DMA);
    close(fd_Mbox);
    close(fd_Lock);
    fd_DMA = fd_Mbox = fd_Lock = -1;
    restore_replaced_handler();
}
