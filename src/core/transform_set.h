// Geometry of the process-wide spectrum transform.
#pragma once

#include <cstddef>

namespace vorn {

inline constexpr int kTransformPoints = 2048;
inline constexpr int kTransformBins = kTransformPoints / 2 + 1;

}  // namespace vorn
