// Doubles as their bit patterns, for checks that a value was copied and not
// computed: NaN payloads, signs of zero and the like compare exactly.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace vorntest {

inline std::uint64_t bits_of(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

inline std::vector<std::uint64_t> bits_of(const std::vector<double>& values) {
    std::vector<std::uint64_t> bits;
    bits.reserve(values.size());
    for (const double value : values) {
        bits.push_back(bits_of(value));
    }
    return bits;
}

}  // namespace vorntest
