// Taking the control lock from its holder, and giving it up on SIGUSR1.
#include "access/control_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "access/login_level.h"
#include "vorn_if.h"

namespace vorn {
namespace {

// A holder that never lets go (SIGUSR1 blocked or ignored, a stopped process,
// a holder without this library) must not keep a login waiting for ever.
constexpr auto kHolderPatience = std::chrono::seconds(10);
constexpr useconds_t kPassPause = 1000;

struct flock whole_file(short type) {
    struct flock description = {};
    description.l_type = type;
    description.l_whence = SEEK_SET;
    description.l_start = 0;
    description.l_len = 0;
    return description;
}

void print_line(const char* text) {
    puts(text);
    fflush(stdout);
}

// POSIX lets a refused request fail with either error.
bool refused_because_held(int error) {
    return error == EAGAIN || error == EACCES;
}

void signal_holder(int fd) {
    struct flock probe = whole_file(F_WRLCK);
    if (fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0) {
        print_line("Sending signal");
        kill(probe.l_pid, SIGUSR1);
    }
}

}  // namespace

LockOutcome acquire_control_lock(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kHolderPatience;
    for (;;) {
        print_line(".");
        struct flock request = whole_file(F_WRLCK);
        if (fcntl(fd, F_SETLK, &request) == 0) {
            print_line("Got lock");
            return LockOutcome::granted;
        }
        const int error = errno;
        print_line("Error getting lock");
        errno = error;
        perror("fcntl()");
        if (!refused_because_held(error)) {
            return LockOutcome::failed;
        }
        signal_holder(fd);
        if (std::chrono::steady_clock::now() >= deadline) {
            print_line("Gave up waiting for lock");
            return LockOutcome::gave_up;
        }
        usleep(kPassPause);
    }
}

}  // namespace vorn

int getVornLock(int fd) {
    vorn::acquire_control_lock(fd);
    return 0;
}

int releaseVornLock(int fd) {
    struct flock release = vorn::whole_file(F_UNLCK);
    return fcntl(fd, F_SETLK, &release);
}

void lock_sigaction(int, siginfo_t*, void*) {
    // The interrupted code must find errno as it left it.
    const int interrupted_errno = errno;
    static constexpr char kLine[] = "Signal Handler\n";
    ssize_t written = write(STDOUT_FILENO, kLine, sizeof kLine - 1);
    (void)written;
    releaseVornLock(fd_Lock);
    vorn::set_login_level(LEVEL_VIEW);
    errno = interrupted_errno;
}
