#include "core/mailbox.h"

#include <sys/ioctl.h>

#include "vorn_if.h"

namespace vorn {

Message::Message(std::uint32_t command) : message_{} {
    write_bits(0, sizeof command, command);
}

void Message::write_bits(std::size_t offset, std::size_t width, std::uint64_t bits) {
    for (std::size_t i = 0; i < width; ++i) {
        message_.bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

std::uint64_t Message::read_bits(std::size_t offset, std::size_t width) const {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < width; ++i) {
        bits |= std::uint64_t{message_.bytes[offset + i]} << (8 * i);
    }
    return bits;
}

int Message::exchange() {
    return ioctl(fd_Mbox, MBOX_IOCTL_XFER, &message_);
}

int exchange_until_failure(std::span<Message> messages) {
    int result = 0;
    for (Message& message : messages) {
        result = message.exchange();
        if (result < 0) {
            break;
        }
    }
    return result;
}

}  // namespace vorn
