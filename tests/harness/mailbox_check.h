// Checks of what clients send through the emulated mailbox: commands made at
// a login level in fresh client processes, compared byte for byte with the
// recorded exchanges, failures shown as the decoded record.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client.h"
#include "vornsim/mailbox_control.h"

namespace vorntest {

using MessageBytes = std::array<std::uint8_t, 32>;

// 32 bytes written as hex digits; spaces only group fields for the reader.
MessageBytes message_bytes(std::string_view hex);
std::string hex_of(const MessageBytes& bytes);

// Every exchange sent exactly these messages, every byte of each.
testing::AssertionResult sent_exactly(const std::vector<vornsim::MailboxExchange>& exchanges,
                                      const std::vector<std::string>& expected_hex);

// Logs the client in at LEVEL_VIEW (nothing to do), LEVEL_OPERATOR or
// LEVEL_EXPERT; the login prints its lock lines.
void log_in(VornLib& lib, int level);

using Command = std::function<int(VornLib& lib, Report& report)>;

struct CommandRun {
    ClientRun client;
    int result = 0;
    int error = 0;  // errno right after the command
    std::vector<vornsim::MailboxExchange> exchanges;
    // For each opening of the calibration file during the command, how many
    // exchanges the command had made before it.
    std::vector<std::size_t> calibration_reads;

    std::string describe() const;  // the client and the decoded exchanges
};

// Runs `command` at `level` in a fresh client of `root`, reporting its result
// and errno (set to `errno_before` just before the command).
CommandRun run_command(const vornsim::SimRoot& root, int level, const Command& command,
                       int errno_before = 0);

// One row of a command family's table: the call, the level it is made at,
// and every message it must send, each as 32 bytes of hex.
struct SentCase {
    std::string call;
    int level;
    std::function<int(VornLib&)> make;
    std::vector<std::string> messages;
};

// Each case in a fresh sim root: result 0 and exactly its messages.
void expect_sends(const std::vector<SentCase>& cases);

enum class Access { any_level, any_login, expert_only };

struct GatedCall {
    std::string name;
    Access access;
    std::size_t messages;  // sent when admitted
    std::function<int(VornLib&)> make;
};

// At LEVEL_VIEW, LEVEL_OPERATOR and LEVEL_EXPERT in turn, makes every call in
// one client: a refused call returns -1 and sends nothing, an admitted one
// sends all its messages and succeeds.
void expect_gates(const std::vector<GatedCall>& calls);

}  // namespace vorntest
