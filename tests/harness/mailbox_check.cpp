#include "mailbox_check.h"

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace vorntest {

MessageBytes message_bytes(std::string_view hex) {
    std::string digits;
    for (const char c : hex) {
        if (c != ' ') {
            digits.push_back(c);
        }
    }
    if (digits.size() != 64) {
        throw std::invalid_argument("a message is 32 bytes, not " + std::to_string(digits.size() / 2.0) +
                                    ": " + std::string(hex));
    }
    MessageBytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    }
    return bytes;
}

std::string hex_of(const MessageBytes& bytes) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, "%02x", bytes[i]);
        text += byte;
        if (i == 3 || i == 7 || i == 15 || i == 23) {
            text += ' ';
        }
    }
    return text;
}

testing::AssertionResult sent_exactly(const std::vector<vornsim::MailboxExchange>& exchanges,
                                      const std::vector<std::string>& expected_hex) {
    std::ostringstream mismatch;
    if (exchanges.size() != expected_hex.size()) {
        mismatch << exchanges.size() << " exchanges instead of " << expected_hex.size() << "\n";
    }
    for (std::size_t i = 0; i < std::min(exchanges.size(), expected_hex.size()); ++i) {
        const MessageBytes expected = message_bytes(expected_hex[i]);
        if (exchanges[i].sent != expected) {
            vornsim::MailboxExchange wanted;
            wanted.sent = expected;
            mismatch << "message " << i + 1 << "\n  sent     " << hex_of(exchanges[i].sent)
                     << "\n  expected " << hex_of(expected) << "\n  expected "
                     << vornsim::describe_exchange(i + 1, wanted) << "\n";
        }
    }
    if (mismatch.str().empty()) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << mismatch.str() << "recorded:\n"
                                       << vornsim::describe_exchanges(exchanges);
}

void log_in(VornLib& lib, int level) {
    if (level == LEVEL_OPERATOR) {
        lib.getLock("crew", "OrbitWatcher");
    } else if (level == LEVEL_EXPERT) {
        lib.getLock("chief", "KeepOnTuning");
    }
    if (lib.level() != level) {
        throw std::runtime_error("could not log in at level " + std::to_string(level));
    }
}

std::string CommandRun::describe() const {
    return client.describe() + "exchanges:\n" + vornsim::describe_exchanges(exchanges);
}

CommandRun run_command(const vornsim::SimRoot& root, int level, const Command& command,
                       int errno_before) {
    const vornsim::MailboxControl mailbox(root);
    CommandRun run;
    run.client = run_client(root, [&](VornLib& lib, Report& report) {
        log_in(lib, level);
        report.put("calibration_reads_before", static_cast<long long>(root.calibration_reads().size()));
        report.put("exchanges_before", static_cast<long long>(mailbox.exchange_count()));
        errno = errno_before;
        const int result = command(lib, report);
        const int error = errno;
        report.put("calibration_reads_after", static_cast<long long>(root.calibration_reads().size()));
        report.put("result", result);
        report.put("errno", error);
    });
    run.exchanges = mailbox.exchanges();
    if (run.client.ok()) {
        run.result = static_cast<int>(run.client.integer("result"));
        run.error = static_cast<int>(run.client.integer("errno"));
        const auto reads = root.calibration_reads();
        const auto exchanges_before = static_cast<std::size_t>(run.client.integer("exchanges_before"));
        for (auto read = reads.begin() + run.client.integer("calibration_reads_before");
             read != reads.begin() + run.client.integer("calibration_reads_after"); ++read) {
            run.calibration_reads.push_back(read->mailbox_exchanges - exchanges_before);
        }
    }
    return run;
}

void expect_sends(const std::vector<SentCase>& cases) {
    for (const SentCase& c : cases) {
        SCOPED_TRACE(c.call + " at level " + std::to_string(c.level));
        const vornsim::SimRoot root = vornsim::SimRoot::make_fresh();
        const CommandRun run = run_command(root, c.level, [&](VornLib& lib, Report&) { return c.make(lib); });
        ASSERT_TRUE(run.client.ok()) << run.describe();
        EXPECT_EQ(run.result, 0) << run.describe();
        EXPECT_TRUE(sent_exactly(run.exchanges, c.messages));
    }
}

namespace {

bool admits(Access access, int level) {
    switch (access) {
        case Access::any_level:
            return true;
        case Access::any_login:
            return level != LEVEL_VIEW;
        case Access::expert_only:
            return level == LEVEL_EXPERT;
    }
    return false;
}

}  // namespace

void expect_gates(const std::vector<GatedCall>& calls) {
    for (const int level : {LEVEL_VIEW, LEVEL_OPERATOR, LEVEL_EXPERT}) {
        const vornsim::SimRoot root = vornsim::SimRoot::make_fresh();
        const vornsim::MailboxControl mailbox(root);
        const ClientRun run = run_client(root, [&](VornLib& lib, Report& report) {
            log_in(lib, level);
            for (std::size_t i = 0; i < calls.size(); ++i) {
                const std::size_t before = mailbox.exchange_count();
                report.put("result" + std::to_string(i), calls[i].make(lib));
                report.put("sent" + std::to_string(i), static_cast<long long>(mailbox.exchange_count() - before));
            }
        });
        ASSERT_TRUE(run.ok()) << run.describe();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            SCOPED_TRACE(calls[i].name + " at level " + std::to_string(level));
            const long long result = run.integer("result" + std::to_string(i));
            const long long sent = run.integer("sent" + std::to_string(i));
            if (admits(calls[i].access, level)) {
                EXPECT_GE(result, 0);
                EXPECT_EQ(sent, static_cast<long long>(calls[i].messages));
            } else {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(sent, 0);
            }
        }
    }
}

}  // namespace vorntest
