#include "client.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vorntest {
namespace fs = std::filesystem;

namespace {

constexpr const char* kHexDigits = "0123456789abcdef";

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::map<std::string, std::string> parse_report(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string key;
    std::string hex;
    while (lines >> key >> hex) {
        std::string raw;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            raw.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        values[key] = raw;
    }
    return values;
}

void write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

[[noreturn]] void run_in_child(const fs::path& dir, const vornsim::SimRoot& root,
                               const ClientBody& body, const ClientOptions& options) {
    const int out = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int report_fd = open((dir / "report").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(out);
    close(err);
    setenv("VORNSIM_ROOT", root.path().c_str(), 1);
    if (options.umask) {
        umask(*options.umask);
    }
    if (options.before_load) {
        options.before_load();
    }
    VornLib lib;
    std::string error;
    if (!load_vorn_lib(lib, error)) {
        std::fprintf(stderr, "client: cannot load the library: %s\n", error.c_str());
        _exit(2);
    }
    Report report(report_fd);
    try {
        body(lib, report);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "client: %s\n", failure.what());
        std::fflush(nullptr);
        _exit(3);
    }
    std::fflush(nullptr);
    if (options.unload) {
        unload_vorn_lib(lib);
        std::fflush(nullptr);
    }
    _exit(0);
}

}  // namespace

void Report::put(const std::string& key, long long value) {
    put(key, std::to_string(value));
}

void Report::put(const std::string& key, const std::string& text) {
    put_bytes(key, text.data(), text.size());
}

void Report::put_bytes(const std::string& key, const void* data, std::size_t size) {
    std::string line = key + " ";
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        line.push_back(kHexDigits[bytes[i] >> 4]);
        line.push_back(kHexDigits[bytes[i] & 0xF]);
    }
    if (size == 0) {
        line += "-";
    }
    write_all(fd_, line + "\n");
}

long long ClientRun::integer(const std::string& key) const {
    return std::stoll(text(key));
}

std::string ClientRun::text(const std::string& key) const {
    const auto found = report.find(key);
    if (found == report.end()) {
        throw std::out_of_range("the client reported no " + key + "\n" + describe());
    }
    return found->second;
}

std::string ClientRun::describe() const {
    std::ostringstream text;
    text << (timed_out ? "client timed out; " : "") << "exit " << exit_code << " signal "
         << term_signal << "\n--- client stdout ---\n"
         << out << "--- client stderr ---\n"
         << err << "---\n";
    return text.str();
}

ClientProcess::ClientProcess(const vornsim::SimRoot& root, ClientBody body,
                             ClientOptions options) {
    std::string pattern = (fs::temp_directory_path() / "vorn-client.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a client directory");
    }
    dir_ = pattern;
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("cannot fork a client");
    }
    if (pid_ == 0) {
        // A client must not outlive a test that crashed.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        run_in_child(dir_, root, body, options);
    }
}

ClientProcess::~ClientProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string ClientProcess::output_so_far() const {
    return read_file(dir_ / "out");
}

bool ClientProcess::wait_for_output(std::string_view text,
                                    std::chrono::milliseconds timeout) const {
    return eventually([&] { return output_so_far().find(text) != std::string::npos; }, timeout);
}

ClientRun ClientProcess::finish(std::chrono::milliseconds timeout) {
    ClientRun run;
    int status = 0;
    const bool ended = eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) {
        run.timed_out = true;
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    if (WIFEXITED(status)) {
        run.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.term_signal = WTERMSIG(status);
    }
    run.out = read_file(dir_ / "out");
    run.err = read_file(dir_ / "err");
    run.report = parse_report(read_file(dir_ / "report"));
    return run;
}

ClientRun run_client(const vornsim::SimRoot& root, ClientBody body, ClientOptions options) {
    ClientProcess client(root, std::move(body), std::move(options));
    return client.finish();
}

vornsim::SimRoot fresh_root_with_calibration(const char* calibration) {
    vornsim::SimRoot root = vornsim::SimRoot::make_fresh();
    if (calibration != nullptr) {
        root.set_calibration(calibration);
    }
    return root;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace vorntest
