// The emulated mailbox device: everything it does lives here.
#pragma once

#include <filesystem>

namespace vornsim::mailbox {

// One ioctl request on the device opened below `root`; -1 with errno set on
// failure.  Only the exchange request is known; it records what was sent
// and answers from the unit that all processes of the root share.
int ioctl(const std::filesystem::path& root, unsigned long request, void* argument);

}  // namespace vornsim::mailbox
