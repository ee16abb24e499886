// The emulated mailbox's files in a sim root: the exchange record, the
// scripts and the unit's state.  Shared by the device in every client
// process and by the control API, and only ever touched under the root's
// mailbox lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "state_file.h"
#include "vornsim/mailbox_log.h"

namespace vornsim::mailbox_store {

struct ScriptedResult {
    std::size_t exchange_number;
    int result;  // >= 0, or -1 for a failure
    int error;   // errno of a failure, else 0
    bool failure_delivers_replies = false;  // a failure still hands back the scripted reply bytes
};

struct ScriptedReply {
    std::uint32_t command;
    std::optional<std::uint8_t> selector;  // byte 4 of the request, if it matters
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
};

// What the unit remembers of the settings it was sent.
struct UnitState {
    std::array<std::array<std::uint8_t, 8>, 256> setpoints{};  // per channel byte, device units
    std::uint8_t pid_configuration = 0;
};

// Holds the root's mailbox lock while it lives, so that what is read and
// written through it is one step of the shared unit.  Failures throw
// std::system_error.
class LockedStore {
public:
    explicit LockedStore(const std::filesystem::path& root);

    std::vector<MailboxExchange> exchanges() const;
    std::size_t exchange_count() const;
    void record(const MailboxExchange& exchange) const;

    std::optional<ScriptedResult> scripted_result(std::size_t exchange_number) const;
    void add(const ScriptedResult& script) const;
    std::vector<ScriptedReply> scripted_replies() const;
    void add(const ScriptedReply& script) const;

    UnitState unit() const;
    void save(const UnitState& unit) const;

private:
    std::filesystem::path dir_;
    StateFileLock lock_;
};

}  // namespace vornsim::mailbox_store
