// vornctl: a command-line client of the feedback unit.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "vorn_if.h"

namespace {

const char* level_name(int level) {
    switch (level) {
    case LEVEL_VIEW:
        return "view";
    case LEVEL_OPERATOR:
        return "operator";
    case LEVEL_EXPERT:
        return "expert";
    default:
        return "unknown";
    }
}

void print_status() {
    std::printf("sample stream device: %s (fd %d)\n", fd_DMA >= 0 ? "open" : "not open", fd_DMA);
    std::printf("mailbox device:       %s (fd %d)\n", fd_Mbox >= 0 ? "open" : "not open", fd_Mbox);
    std::printf("lock file:            %s (fd %d)\n", fd_Lock >= 0 ? "open" : "not open", fd_Lock);
    std::printf("sampling frequency:   %d Hz\n", SAMP_FREQ);
    const int level = getLockStatus();
    std::printf("login level:          %d (%s)\n", level, level_name(level));
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Command-line client of the beam-position feedback unit.", "vornctl"};
    std::string account;
    std::string password;
    app.add_option("--login", account, "Log in with this account before the command");
    app.add_option("--password", password, "Password of the --login account");
    app.require_subcommand(1);
    CLI::App* status = app.add_subcommand("status", "Show the devices, the sampling frequency and the login level");
    CLI11_PARSE(app, argc, argv);

    if (!account.empty()) {
        const int level = getLock(account.c_str(), password.c_str());
        if (level == LEVEL_VIEW && account != "patrol") {
            std::fprintf(stderr,
                         "vornctl: login as %s left the level at view: wrong password, unknown "
                         "account, or another client kept the control lock\n",
                         account.c_str());
        }
    }
    if (status->parsed()) {
        print_status();
    }
    return 0;
}
