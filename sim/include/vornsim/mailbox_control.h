// Control of a sim root's emulated mailbox device: the record of every
// exchange, and scripted results and replies.  It works from any process,
// while clients of the root are running; all processes of one root share one
// record and one script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "vornsim/mailbox_log.h"
#include "vornsim/sim_root.h"

namespace vornsim {

// What a scripted failure hands back in the client's message.
enum class FailedReply {
    as_sent,         // nothing: the message stays as the client sent it
    scripted_bytes,  // the scripted reply bytes of its command, though not the unit's answer
};

class MailboxControl {
public:
    explicit MailboxControl(const SimRoot& root);
    explicit MailboxControl(std::filesystem::path root);

    // Every exchange that reached the device, in order.  A client whose
    // mailbox did not open at load reaches nothing and leaves no record.
    std::vector<MailboxExchange> exchanges() const;
    std::size_t exchange_count() const;

    // Exchanges are numbered from 1, the root's first.  A scripted result
    // (>= 0) is returned after the device answered as usual; a scripted
    // failure returns -1 with errno `error`, changes nothing on the unit and
    // hands back what `reply` says.  The latest script for a number wins.
    void script_result(std::size_t exchange_number, int result) const;
    void script_failure(std::size_t exchange_number, int error,
                        FailedReply reply = FailedReply::as_sent) const;

    // Every successful reply to `command` carries `bytes` from `offset` on,
    // written over the unit's own answer; with a selector, only replies to
    // requests whose byte 4 holds it.  Later scripts are written over earlier
    // ones.
    void script_reply(std::uint32_t command, std::size_t offset, std::vector<std::uint8_t> bytes,
                      std::optional<std::uint8_t> selector = std::nullopt) const;

private:
    std::filesystem::path root_;
};

}  // namespace vornsim
