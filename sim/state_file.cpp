#include "state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vornsim {
namespace fs = std::filesystem;

namespace {

int open_for_writing(const fs::path& path, int mode_flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode_flags, 0666);
    if (fd < 0) {
        throw_file_error("cannot open", path);
    }
    return fd;
}

// Closes `fd` without losing the errno of the failure that came before.
[[noreturn]] void close_and_fail(int fd, const std::string& what, const fs::path& path) {
    const int error = errno;
    ::close(fd);
    errno = error;
    throw_file_error(what, path);
}

}  // namespace

void throw_file_error(const std::string& what, const fs::path& path) {
    throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

std::optional<std::string> read_state_file(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw_file_error("cannot open", path);
    }
    std::string content;
    char chunk[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) {
        content.append(chunk, static_cast<std::size_t>(got));
    }
    if (got < 0) {
        close_and_fail(fd, "cannot read", path);
    }
    ::close(fd);
    return content;
}

void replace_state_file(const fs::path& path, std::string_view content) {
    const int fd = open_for_writing(path, O_TRUNC);
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = ::write(fd, content.data() + done, content.size() - done);
        if (written < 0) {
            close_and_fail(fd, "cannot write", path);
        }
        done += static_cast<std::size_t>(written);
    }
    ::close(fd);
}

void append_state_file(const fs::path& path, std::string_view content) {
    const int fd = open_for_writing(path, O_APPEND);
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written != static_cast<ssize_t>(content.size())) {
        // A second write could land after another process's record.
        if (written >= 0) {
            errno = EIO;
        }
        close_and_fail(fd, "cannot write", path);
    }
    ::close(fd);
}

StateFileLock::StateFileLock(const fs::path& path)
    : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    if (fd_ < 0) {
        throw_file_error("cannot open", path);
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close_and_fail(fd_, "cannot lock", path);
        }
    }
}

StateFileLock::~StateFileLock() {
    ::close(fd_);
}

}  // namespace vornsim
