// Fixed locations of the unit's devices and files.
#pragma once

namespace vorn {

inline constexpr const char* kSampleStreamDevice = "/dev/vorn_dma_displ";
inline constexpr const char* kMailboxDevice = "/dev/vorn_mailbox";
inline constexpr const char* kLockFile = "/var/lock/vorn_lock";
inline constexpr const char* kCalibrationFile = "/opt/Arvolin/VORN/config.ini";

}  // namespace vorn
