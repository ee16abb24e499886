// The preloaded half of the driver stand-in.  It takes the calls that the
// library and its dependencies make on the unit's fixed paths and serves them
// from the sim root named by VORNSIM_ROOT: files become files below the root,
// devices become emulated devices.  Without a root it refuses to run, so a
// process under the stand-in can never reach the real paths.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "calibration_reads.h"
#include "core/device_paths.h"
#include "devices/mailbox.h"
#include "devices/sample_stream.h"
#include "root_layout.h"

namespace {
namespace fs = std::filesystem;
using vornsim::Device;

template <typename Function>
Function* next_definition(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

#define VORNSIM_NEXT(name) \
    static auto* const real = next_definition<decltype(::name)>(#name)

constexpr int kNotEmulated = 0;

// Which descriptors are emulated devices; indexed by descriptor, lock-free so
// that close() stays safe wherever it is called.
constexpr int kTrackedDescriptors = 4096;
std::array<std::atomic<int>, kTrackedDescriptors> emulated_kind{};

int kind_code(Device device) {
    return static_cast<int>(device) + 1;
}

std::optional<Device> emulated_device_at(int fd) {
    if (fd < 0 || fd >= kTrackedDescriptors) {
        return std::nullopt;
    }
    const int code = emulated_kind[fd].load();
    if (code == kNotEmulated) {
        return std::nullopt;
    }
    return static_cast<Device>(code - 1);
}

// Whichever runs first, the constructor or an open of a fixed path by another
// library's constructor, ends the process before a real path is reached.
[[noreturn]] void refuse_to_run() {
    std::fprintf(stderr,
                 "vornsim: %s is not set; refusing to run against the real devices. Run the "
                 "program under the vornsim launcher or set %s to a sim root.\n",
                 vornsim::layout::kRootVariable, vornsim::layout::kRootVariable);
    _exit(125);
}

fs::path required_sim_root() {
    const char* root = std::getenv(vornsim::layout::kRootVariable);
    if (root == nullptr || *root == '\0') {
        refuse_to_run();
    }
    return fs::path(root);
}

__attribute__((constructor)) void require_sim_root() {
    required_sim_root();
}

bool is_fixed_path(const char* path) {
    return path != nullptr &&
           (vornsim::layout::emulated_device(path) || vornsim::layout::is_redirected_file(path));
}

// An emulated device is backed by a real descriptor of /dev/null so that
// close(), fcntl() and fstat() on it behave as on any descriptor.
int open_emulated(const fs::path& root, Device device, int flags) {
    if (!fs::exists(root) || fs::exists(vornsim::layout::absence_marker(root, device))) {
        errno = ENOENT;
        return -1;
    }
    VORNSIM_NEXT(open);
    const int placeholder = real("/dev/null", flags & (O_ACCMODE | O_CLOEXEC | O_NONBLOCK));
    if (placeholder < 0) {
        return -1;
    }
    if (placeholder >= kTrackedDescriptors) {
        VORNSIM_NEXT(close);
        real(placeholder);
        errno = EMFILE;
        return -1;
    }
    emulated_kind[placeholder].store(kind_code(device));
    return placeholder;
}

void note_calibration_read(const fs::path& root, std::string_view path) {
    if (path == vorn::kCalibrationFile) {
        vornsim::calibration_reads::record(root);
    }
}

struct Redirect {
    bool handled;      // the stand-in answered the open itself, with `result`
    int result;
    std::string path;  // otherwise the path to hand on
};

// Decides what an open of a non-null `path` becomes.
Redirect redirect_open(const char* path, int flags) {
    if (!is_fixed_path(path)) {
        return {false, -1, path};
    }
    const fs::path root = required_sim_root();
    if (const auto device = vornsim::layout::emulated_device(path)) {
        return {true, open_emulated(root, *device, flags), {}};
    }
    note_calibration_read(root, path);
    return {false, -1, vornsim::layout::below_root(root, path).string()};
}

mode_t mode_argument(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

template <typename RealOpen>
int open_through(RealOpen* real, const char* path, int flags, mode_t mode) {
    if (path == nullptr) {
        return real(path, flags, mode);
    }
    const Redirect redirect = redirect_open(path, flags);
    return redirect.handled ? redirect.result : real(redirect.path.c_str(), flags, mode);
}

template <typename RealOpenAt>
int openat_through(RealOpenAt* real, int dirfd, const char* path, int flags, mode_t mode) {
    if (path == nullptr || path[0] != '/') {
        return real(dirfd, path, flags, mode);
    }
    const Redirect redirect = redirect_open(path, flags);
    return redirect.handled ? redirect.result : real(dirfd, redirect.path.c_str(), flags, mode);
}

template <typename RealFopen>
FILE* fopen_through(RealFopen* real, const char* path, const char* mode) {
    if (!is_fixed_path(path)) {
        return real(path, mode);
    }
    if (vornsim::layout::emulated_device(path)) {
        // The devices are used through descriptors only.
        errno = ENXIO;
        return nullptr;
    }
    const fs::path root = required_sim_root();
    note_calibration_read(root, path);
    return real(vornsim::layout::below_root(root, path).c_str(), mode);
}

ssize_t read_emulated(Device device, void* buffer, size_t size) {
    if (device == Device::sample_stream) {
        return vornsim::sample_stream::read(required_sim_root(), buffer, size);
    }
    errno = EINVAL;
    return -1;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    VORNSIM_NEXT(open);
    return open_through(real, path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    VORNSIM_NEXT(open64);
    return open_through(real, path, flags, mode);
}

__attribute__((visibility("default"))) int openat(int dirfd, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    VORNSIM_NEXT(openat);
    return openat_through(real, dirfd, path, flags, mode);
}

__attribute__((visibility("default"))) int openat64(int dirfd, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    VORNSIM_NEXT(openat64);
    return openat_through(real, dirfd, path, flags, mode);
}

__attribute__((visibility("default"))) FILE* fopen(const char* path, const char* mode) {
    VORNSIM_NEXT(fopen);
    return fopen_through(real, path, mode);
}

__attribute__((visibility("default"))) FILE* fopen64(const char* path, const char* mode) {
    VORNSIM_NEXT(fopen64);
    return fopen_through(real, path, mode);
}

__attribute__((visibility("default"))) ssize_t read(int fd, void* buffer, size_t size) {
    if (const auto device = emulated_device_at(fd)) {
        return read_emulated(*device, buffer, size);
    }
    VORNSIM_NEXT(read);
    return real(fd, buffer, size);
}

__attribute__((visibility("default"))) ssize_t __read_chk(int fd, void* buffer, size_t size,
                                                          size_t buffer_size) {
    if (size > buffer_size) {
        std::abort();
    }
    return read(fd, buffer, size);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (const auto device = emulated_device_at(fd)) {
        if (*device != Device::mailbox) {
            errno = ENOTTY;
            return -1;
        }
        return vornsim::mailbox::ioctl(required_sim_root(), request, argument);
    }
    VORNSIM_NEXT(ioctl);
    return real(fd, request, argument);
}

__attribute__((visibility("default"))) int close(int fd) {
    if (fd >= 0 && fd < kTrackedDescriptors) {
        emulated_kind[fd].store(kNotEmulated);
    }
    VORNSIM_NEXT(close);
    return real(fd);
}

}  // extern "C"
