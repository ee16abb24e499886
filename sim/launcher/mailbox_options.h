// The launcher's options for the emulated mailbox: scripted results and
// replies before the command runs, the decoded record after it.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "vornsim/sim_root.h"

namespace vornsim::launcher {

struct MailboxOptions {
    std::vector<std::string> results;
    std::vector<std::string> failures;
    std::vector<std::string> failures_with_reply;
    std::vector<std::string> replies;
    bool show_log = false;
};

void add_mailbox_options(CLI::App& app, MailboxOptions& options);
// Throws std::invalid_argument for a malformed option value.
void configure_mailbox(const SimRoot& root, const MailboxOptions& options);
void report_mailbox(const SimRoot& root, const MailboxOptions& options);

}  // namespace vornsim::launcher
