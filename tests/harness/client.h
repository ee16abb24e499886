// Client processes for tests: each runs a body in a fresh forked process that
// loads the real library with dlopen under its own sim root, with its
// standard output and error captured.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vorn_lib.h"
#include "vornsim/sim_root.h"

namespace vorntest {

// Values a client body hands back to the test, by name.
class Report {
public:
    explicit Report(int fd) : fd_(fd) {}
    void put(const std::string& key, long long value);
    void put(const std::string& key, const std::string& text);
    void put_bytes(const std::string& key, const void* data, std::size_t size);
    template <typename T>
    void put_values(const std::string& key, const T* values, std::size_t count) {
        put_bytes(key, values, count * sizeof(T));
    }

private:
    int fd_;
};

struct ClientOptions {
    std::optional<mode_t> umask;            // file-creation mask set before the library loads
    std::function<void()> before_load;      // runs in the client before the library loads
    bool unload = true;                     // dlclose at the end, else exit with it loaded
};

struct ClientRun {
    bool timed_out = false;
    int exit_code = -1;    // -1 when ended by a signal
    int term_signal = 0;
    std::string out;
    std::string err;
    std::map<std::string, std::string> report;  // raw bytes per key

    bool ok() const { return exit_code == 0; }
    bool has(const std::string& key) const { return report.count(key) != 0; }
    long long integer(const std::string& key) const;
    std::string text(const std::string& key) const;
    template <typename T>
    std::vector<T> values(const std::string& key) const {
        const std::string& raw = report.at(key);
        std::vector<T> result(raw.size() / sizeof(T));
        std::memcpy(result.data(), raw.data(), result.size() * sizeof(T));
        return result;
    }
    // Exit, output and error of the client, for failure messages.
    std::string describe() const;
};

using ClientBody = std::function<void(VornLib&, Report&)>;

class ClientProcess {
public:
    ClientProcess(const vornsim::SimRoot& root, ClientBody body, ClientOptions options = {});
    ClientProcess(const ClientProcess&) = delete;
    ~ClientProcess();

    pid_t pid() const { return pid_; }
    std::string output_so_far() const;
    // Waits until the client's standard output contains `text`.
    bool wait_for_output(std::string_view text,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // Waits for the client to end; kills it after `timeout`.
    ClientRun finish(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

ClientRun run_client(const vornsim::SimRoot& root, ClientBody body, ClientOptions options = {});

// A fresh sim root with `calibration` as its calibration file, or with none
// when it is null.
vornsim::SimRoot fresh_root_with_calibration(const char* calibration);

// Polls `condition` every millisecond until it holds or `timeout` passes.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace vorntest
