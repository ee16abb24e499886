#include "vornsim/mailbox_control.h"

#include <stdexcept>
#include <utility>

#include "mailbox_store.h"

namespace vornsim {

MailboxControl::MailboxControl(const SimRoot& root) : MailboxControl(root.path()) {}

MailboxControl::MailboxControl(std::filesystem::path root) : root_(std::move(root)) {}

std::vector<MailboxExchange> MailboxControl::exchanges() const {
    return mailbox_store::LockedStore(root_).exchanges();
}

std::size_t MailboxControl::exchange_count() const {
    return mailbox_store::LockedStore(root_).exchange_count();
}

void MailboxControl::script_result(std::size_t exchange_number, int result) const {
    if (result < 0) {
        throw std::invalid_argument("a scripted result is not negative; script a failure instead");
    }
    mailbox_store::LockedStore(root_).add(mailbox_store::ScriptedResult{exchange_number, result, 0});
}

void MailboxControl::script_failure(std::size_t exchange_number, int error, FailedReply reply) const {
    if (error <= 0) {
        throw std::invalid_argument("a scripted failure needs a positive errno");
    }
    mailbox_store::LockedStore(root_).add(mailbox_store::ScriptedResult{
        exchange_number, -1, error, reply == FailedReply::scripted_bytes});
}

void MailboxControl::script_reply(std::uint32_t command, std::size_t offset,
                                  std::vector<std::uint8_t> bytes,
                                  std::optional<std::uint8_t> selector) const {
    if (offset < 4 || offset + bytes.size() > 32) {
        throw std::invalid_argument("scripted reply bytes lie within the payload, bytes 4 to 31");
    }
    mailbox_store::LockedStore(root_).add(
        mailbox_store::ScriptedReply{command, selector, offset, std::move(bytes)});
}

}  // namespace vornsim
