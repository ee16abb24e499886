// vornsim: runs a command, and every process it starts, against a simulated
// unit kept in a sim root.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "launcher/mailbox_options.h"
#include "root_layout.h"
#include "launcher/stream_options.h"
#include "vornsim/sim_root.h"

namespace fs = std::filesystem;

namespace {

struct Options {
    std::string root;
    bool keep = false;
    bool no_sample_stream = false;
    bool no_mailbox = false;
    std::string calibration;
    vornsim::launcher::MailboxOptions mailbox;
    vornsim::launcher::StreamOptions stream;
    std::vector<std::string> command;
};

// The preload sits beside the launcher in the build tree and in the library
// directory of an installed tree.
std::optional<fs::path> find_preload() {
    std::error_code error;
    const fs::path launcher_dir = fs::read_symlink("/proc/self/exe", error).parent_path();
    for (const fs::path& candidate : {launcher_dir / "libvornsim.so",
                                      launcher_dir / VORNSIM_PRELOAD_FROM_BINDIR / "libvornsim.so"}) {
        if (fs::exists(candidate)) {
            return fs::weakly_canonical(candidate);
        }
    }
    return std::nullopt;
}

std::string read_whole_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read calibration file " + path.string() + ": " +
                                 std::strerror(errno));
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void configure(const vornsim::SimRoot& root, const Options& options) {
    if (options.no_sample_stream) {
        root.set_device_present(vornsim::Device::sample_stream, false);
    }
    if (options.no_mailbox) {
        root.set_device_present(vornsim::Device::mailbox, false);
    }
    if (!options.calibration.empty()) {
        root.set_calibration(read_whole_file(options.calibration));
    }
    vornsim::launcher::configure_mailbox(root, options.mailbox);
    vornsim::launcher::apply_stream_options(root, options.stream);
}

// The command is ended by the signals that would end the launcher, so that the
// launcher outlives it and can still remove its fresh root.
pid_t running_command = 0;

void pass_signal_on(int signal) {
    if (running_command > 0) {
        kill(running_command, signal);
    }
}

void pass_ending_signals_on() {
    struct sigaction action = {};
    action.sa_handler = pass_signal_on;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(signal, &action, nullptr);
    }
}

int run(const std::vector<std::string>& command, const fs::path& root, const fs::path& preload) {
    std::string preload_list = preload.string();
    if (const char* earlier = std::getenv("LD_PRELOAD"); earlier != nullptr && *earlier != '\0') {
        preload_list += ":" + std::string(earlier);
    }
    const pid_t child = fork();
    if (child < 0) {
        std::cerr << "vornsim: cannot start " << command[0] << ": " << std::strerror(errno) << "\n";
        return 127;
    }
    if (child == 0) {
        setenv(vornsim::layout::kRootVariable, root.c_str(), 1);
        setenv("LD_PRELOAD", preload_list.c_str(), 1);
        std::vector<char*> argv;
        for (const std::string& word : command) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::cerr << "vornsim: cannot run " << command[0] << ": " << std::strerror(errno) << "\n";
        _exit(127);
    }
    running_command = child;
    pass_ending_signals_on();
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"Runs COMMAND, and every process it starts, against a simulated unit.\n"
                 "The unit's fixed paths are served from a sim root: a fresh temporary one,\n"
                 "removed afterwards, unless --root names one.",
                 "vornsim"};
    app.add_option("--root", options.root,
                   "Sim root to use or create; it is kept, and runs that share it share one unit");
    app.add_flag("--keep", options.keep, "Keep the fresh sim root and print its path");
    app.add_flag("--no-sample-stream", options.no_sample_stream,
                 "Make the sample-stream device absent (its open fails with ENOENT)");
    app.add_flag("--no-mailbox", options.no_mailbox,
                 "Make the mailbox device absent (its open fails with ENOENT)");
    app.add_option("--calibration", options.calibration, "Install FILE as the calibration file")
        ->check(CLI::ExistingFile);
    vornsim::launcher::add_mailbox_options(app, options.mailbox);
    vornsim::launcher::add_stream_options(app, options.stream);
    app.add_option("command", options.command, "COMMAND [ARGS...], after --")->required();
    CLI11_PARSE(app, argc, argv);

    const std::optional<fs::path> preload = find_preload();
    if (!preload) {
        std::cerr << "vornsim: cannot find libvornsim.so beside " << argv[0]
                  << "; rebuild or reinstall the driver stand-in\n";
        return 127;
    }
    try {
        vornsim::SimRoot root = options.root.empty() ? vornsim::SimRoot::make_fresh()
                                                     : vornsim::SimRoot::adopt(options.root);
        configure(root, options);
        if (options.keep) {
            root.keep();
            std::cerr << "vornsim: sim root " << root.path().string() << "\n";
        }
        const int status = run(options.command, root.path(), *preload);
        vornsim::launcher::report_mailbox(root, options.mailbox);
        return status;
    } catch (const std::exception& error) {
        std::cerr << "vornsim: " << error.what() << "\n";
        return 127;
    }
}
