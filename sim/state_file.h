// Files that hold the shared state of a sim root: every process of the root
// reads and writes them, so a step that reads and then writes holds a
// StateFileLock.  Failures throw std::system_error naming the file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vornsim {

// Throws std::system_error for the current errno as "WHAT PATH: reason".
[[noreturn]] void throw_file_error(const std::string& what, const std::filesystem::path& path);

// The whole content; nothing when the file does not exist.
std::optional<std::string> read_state_file(const std::filesystem::path& path);

// Creates the file or replaces its content.
void replace_state_file(const std::filesystem::path& path, std::string_view content);

// Adds `content` at the end in a single write, so that what several
// processes append never interleaves, with or without a lock.
void append_state_file(const std::filesystem::path& path, std::string_view content);

// An exclusive flock on `path` (created if need be) while it lives.  Each
// holder opens the file anew, so it serialises the threads of one process as
// well as processes.
class StateFileLock {
public:
    explicit StateFileLock(const std::filesystem::path& path);
    StateFileLock(const StateFileLock&) = delete;
    StateFileLock& operator=(const StateFileLock&) = delete;
    ~StateFileLock();

private:
    int fd_;
};

}  // namespace vornsim
