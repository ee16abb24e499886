// One mailbox message and its exchange with the unit's driver.  Every sender
// builds its messages here: the command word at offset 0, a zeroed payload,
// then its fields at their offsets, little-endian whatever the host order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "core/mailbox_protocol.h"

namespace vorn {

// A payload field of one command: where it starts; its type gives its width.
// Offsets are checked when the command tables are compiled.
template <typename T>
struct Field {
    static_assert(std::is_integral_v<T> || std::is_same_v<T, double>,
                  "mailbox fields are integers or doubles");

    consteval explicit Field(std::size_t at) : offset(at) {
        if (at < kMailboxPayloadOffset || at + sizeof(T) > kMailboxMessageSize) {
            throw "a field lies outside the payload";
        }
    }

    std::size_t offset;
};

class Message {
public:
    explicit Message(std::uint32_t command);

    // The value is converted to the field's type, so an int given to an
    // 8-bit field keeps its low 8 bits.
    template <typename T>
    Message& put(Field<T> field, std::type_identity_t<T> value) {
        write_bits(field.offset, sizeof(T), to_bits(value));
        return *this;
    }

    template <typename T>
    T get(Field<T> field) const {
        return std::bit_cast<T>(static_cast<Bits<T>>(read_bits(field.offset, sizeof(T))));
    }

    // One exchange on the mailbox descriptor as it is at this moment; the
    // driver's result, or -1 with errno set.  A reply lands in this message.
    int exchange();

private:
    template <typename T>
    using Bits = typename std::conditional_t<std::is_same_v<T, double>,
                                             std::type_identity<std::uint64_t>,
                                             std::make_unsigned<T>>::type;

    template <typename T>
    static std::uint64_t to_bits(T value) {
        return std::bit_cast<Bits<T>>(value);
    }

    void write_bits(std::size_t offset, std::size_t width, std::uint64_t bits);
    std::uint64_t read_bits(std::size_t offset, std::size_t width) const;

    MailboxMessage message_;
};

// Exchanges the messages in order and stops at the first negative result,
// which it returns; otherwise the last message's result.
int exchange_until_failure(std::span<Message> messages);

}  // namespace vorn
