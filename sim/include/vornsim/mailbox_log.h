// What the emulated mailbox device records of each exchange, and a readable
// rendering of it: one line per message with its command, fields and result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vornsim {

struct MailboxExchange {
    std::array<std::uint8_t, 32> sent{};  // the message as the client sent it
    int result = 0;                       // what the ioctl returned
    int error = 0;                        // errno of a failed exchange, else 0
};

// "#3 CMD_SETPOINT_SET channel=0 setpoint=0.5 -> 0": `number` counts from 1.
// Non-zero payload bytes outside the command's fields are listed as stray.
std::string describe_exchange(std::size_t number, const MailboxExchange& exchange);
// Every exchange, one line each, numbered from 1; "(no exchanges)" when empty.
std::string describe_exchanges(const std::vector<MailboxExchange>& exchanges);

}  // namespace vornsim
