#include "devices/mailbox.h"

#include <cerrno>

#include "core/mailbox_protocol.h"

namespace vornsim::mailbox {

int ioctl(const std::filesystem::path&, unsigned long request, void*) {
    if (request != vorn::MBOX_IOCTL_XFER) {
        errno = ENOTTY;
        return -1;
    }
    return 0;
}

}  // namespace vornsim::mailbox
