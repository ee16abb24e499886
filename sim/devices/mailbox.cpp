#include "devices/mailbox.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <exception>

#include "core/mailbox_protocol.h"
#include "mailbox_bytes.h"
#include "mailbox_store.h"

namespace vornsim::mailbox {
namespace {

using mailbox_store::LockedStore;
using mailbox_store::UnitState;

// Readings of a quiet, healthy unit.  The library gives them no meaning, so
// they only need to be distinct, plausible and exactly representable.
struct Statistics {
    double first;
    double second;
};
constexpr std::array<Statistics, 3> kPositionStatistics{{{0.125, 0.0078125},
                                                         {-0.0625, 0.00390625},
                                                         {1.5, 0.25}}};

void answer_link_info(std::uint8_t* bytes) {
    const std::uint8_t index = bytes[4];
    if (index >= 4) {
        return;
    }
    store_le<std::int16_t>(bytes + 8, static_cast<std::int16_t>(9000 + index));
    store_le<std::int32_t>(bytes + 10, 33000);
    store_le<std::int32_t>(bytes + 14, 5000 - 100 * index);
    store_le<std::int32_t>(bytes + 18, 4500 - 100 * index);
}

// The unit's part of a successful exchange: take the settings it keeps and
// answer the reading commands in place.
void carry_out(std::uint8_t* bytes, UnitState& unit) {
    const std::uint32_t command = load_le<std::uint32_t>(bytes);
    const std::uint8_t selector = bytes[4];
    switch (command) {
        case vorn::CMD_SETPOINT_SET:
            std::memcpy(unit.setpoints[selector].data(), bytes + 8, 8);
            break;
        case vorn::CMD_SETPOINT_GET:
            std::memcpy(bytes + 8, unit.setpoints[selector].data(), 8);
            break;
        case vorn::CMD_PID_CONF_SET:
            unit.pid_configuration = selector;
            break;
        case vorn::CMD_PID_CONF_GET:
            bytes[4] = unit.pid_configuration;
            break;
        case vorn::CMD_POS_STATS_GET:
            if (selector < kPositionStatistics.size()) {
                store_le(bytes + 8, kPositionStatistics[selector].first);
                store_le(bytes + 16, kPositionStatistics[selector].second);
            }
            break;
        case vorn::CMD_SFP_INFO_GET:
            answer_link_info(bytes);
            break;
        default:
            break;  // settings the unit carries out without reporting back
    }
}

void apply_scripted_replies(const LockedStore& store, std::uint8_t* bytes) {
    const std::uint32_t command = load_le<std::uint32_t>(bytes);
    const std::uint8_t selector = bytes[4];
    for (const auto& reply : store.scripted_replies()) {
        if (reply.command != command || (reply.selector && *reply.selector != selector)) {
            continue;
        }
        for (std::size_t i = 0; i < reply.bytes.size() && reply.offset + i < vorn::kMailboxMessageSize;
             ++i) {
            bytes[reply.offset + i] = reply.bytes[i];
        }
    }
}

struct Outcome {
    int result;
    int error;
    bool reply_delivered;  // the worked-on message goes back to the client
};

Outcome exchange(const std::filesystem::path& root, vorn::MailboxMessage& message) {
    const LockedStore store(root);
    MailboxExchange record;
    std::memcpy(record.sent.data(), message.bytes, record.sent.size());
    const auto script = store.scripted_result(store.exchange_count() + 1);
    if (script && script->result < 0) {
        if (script->failure_delivers_replies) {
            apply_scripted_replies(store, message.bytes);
        }
        record.result = -1;
        record.error = script->error;
        store.record(record);
        return {record.result, record.error, script->failure_delivers_replies};
    }
    UnitState unit = store.unit();
    carry_out(message.bytes, unit);
    apply_scripted_replies(store, message.bytes);
    store.save(unit);
    record.result = script ? script->result : 0;
    store.record(record);
    return {record.result, 0, true};
}

}  // namespace

int ioctl(const std::filesystem::path& root, unsigned long request, void* argument) {
    if (request != vorn::MBOX_IOCTL_XFER) {
        errno = ENOTTY;
        return -1;
    }
    if (argument == nullptr) {
        errno = EFAULT;
        return -1;
    }
    // Worked on in a copy, so that a failure hands back only what its script
    // says; the store's own file operations must not show in errno.
    const int caller_errno = errno;
    vorn::MailboxMessage message;
    std::memcpy(&message, argument, sizeof message);
    Outcome outcome{-1, EIO, false};
    try {
        outcome = exchange(root, message);
    } catch (const std::exception&) {
        outcome = {-1, EIO, false};
    }
    if (outcome.reply_delivered) {
        std::memcpy(argument, &message, sizeof message);
    }
    if (outcome.result < 0) {
        errno = outcome.error;
        return -1;
    }
    errno = caller_errno;
    return outcome.result;
}

}  // namespace vornsim::mailbox
