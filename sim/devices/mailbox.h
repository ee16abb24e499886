// The emulated mailbox device: everything it does lives here.
#pragma once

#include <filesystem>

namespace vornsim::mailbox {

// One ioctl request on the device opened below `root`; -1 with errno set on failure.
int ioctl(const std::filesystem::path& root, unsigned long request, void* argument);

}  // namespace vornsim::mailbox
