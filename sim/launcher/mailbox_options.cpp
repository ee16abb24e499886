#include "launcher/mailbox_options.h"

#include <cstring>
#include <iostream>
#include <stdexcept>

#include "vornsim/mailbox_control.h"

namespace vornsim::launcher {
namespace {

// The whole of `text` as a number in C notation (0x for hexadecimal).
unsigned long long whole_number(const std::string& text, const std::string& option) {
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || text[0] == '-') {
        throw std::invalid_argument(option + ": '" + text + "' is not a number");
    }
    return value;
}

// "N=VALUE" split at the first '='.
std::pair<std::string, std::string> split_at(const std::string& text, char separator,
                                             const std::string& option) {
    const auto at = text.find(separator);
    if (at == std::string::npos) {
        throw std::invalid_argument(option + ": '" + text + "' lacks '" + separator + "'");
    }
    return {text.substr(0, at), text.substr(at + 1)};
}

// A number, or a name such as EIO.
int error_number(const std::string& text, const std::string& option) {
    for (int error = 1; error < 256; ++error) {
        const char* name = strerrorname_np(error);
        if (name != nullptr && text == name) {
            return error;
        }
    }
    return static_cast<int>(whole_number(text, option));
}

// N=ERRNO
void script_failure(const MailboxControl& mailbox, const std::string& entry, const std::string& option,
                    FailedReply reply) {
    const auto [number, error] = split_at(entry, '=', option);
    mailbox.script_failure(whole_number(number, option), error_number(error, option), reply);
}

std::vector<std::uint8_t> hex_bytes(const std::string& hex) {
    if (hex.empty() || hex.size() % 2 != 0 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw std::invalid_argument("--mailbox-reply: '" + hex + "' is not an even number of hex digits");
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// COMMAND[/BYTE4]@OFFSET=HEX
void script_reply(const MailboxControl& mailbox, const std::string& entry) {
    const std::string option = "--mailbox-reply";
    const auto [where, hex] = split_at(entry, '=', option);
    const auto [request, offset] = split_at(where, '@', option);
    const auto slash = request.find('/');
    std::optional<std::uint8_t> selector;
    if (slash != std::string::npos) {
        selector = static_cast<std::uint8_t>(whole_number(request.substr(slash + 1), option));
    }
    mailbox.script_reply(static_cast<std::uint32_t>(whole_number(request.substr(0, slash), option)),
                         whole_number(offset, option), hex_bytes(hex), selector);
}

}  // namespace

void add_mailbox_options(CLI::App& app, MailboxOptions& options) {
    app.add_option("--mailbox-result", options.results,
                   "N=VALUE: mailbox exchange N (1 = the first) returns VALUE (>= 0)")
        ->allow_extra_args(false);
    app.add_option("--mailbox-fail", options.failures,
                   "N=ERRNO: mailbox exchange N fails with ERRNO (a number or a name like EIO)")
        ->allow_extra_args(false);
    app.add_option("--mailbox-fail-with-reply", options.failures_with_reply,
                   "N=ERRNO: mailbox exchange N fails with ERRNO, yet hands back the --mailbox-reply "
                   "bytes of its command")
        ->allow_extra_args(false);
    app.add_option("--mailbox-reply", options.replies,
                   "COMMAND[/BYTE4]@OFFSET=HEX: replies to COMMAND (to requests with BYTE4 at "
                   "offset 4) carry the bytes HEX from OFFSET on")
        ->allow_extra_args(false);
    app.add_flag("--mailbox-log", options.show_log,
                 "After the command, print the mailbox exchanges on standard error");
}

void configure_mailbox(const SimRoot& root, const MailboxOptions& options) {
    const MailboxControl mailbox(root);
    for (const std::string& entry : options.results) {
        const auto [number, value] = split_at(entry, '=', "--mailbox-result");
        mailbox.script_result(whole_number(number, "--mailbox-result"),
                              static_cast<int>(whole_number(value, "--mailbox-result")));
    }
    for (const std::string& entry : options.failures) {
        script_failure(mailbox, entry, "--mailbox-fail", FailedReply::as_sent);
    }
    for (const std::string& entry : options.failures_with_reply) {
        script_failure(mailbox, entry, "--mailbox-fail-with-reply", FailedReply::scripted_bytes);
    }
    for (const std::string& entry : options.replies) {
        script_reply(mailbox, entry);
    }
}

void report_mailbox(const SimRoot& root, const MailboxOptions& options) {
    if (options.show_log) {
        std::cerr << describe_exchanges(MailboxControl(root).exchanges());
    }
}

}  // namespace vornsim::launcher
