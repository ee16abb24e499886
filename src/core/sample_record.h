// The sample stream's record: 32 slots of one host-order double each.
#pragma once

#include <cstddef>

namespace vorn {

inline constexpr std::size_t kSlotsPerRecord = 32;
inline constexpr std::size_t kSampleRecordSize = kSlotsPerRecord * sizeof(double);
static_assert(kSampleRecordSize == 256);

}  // namespace vorn
