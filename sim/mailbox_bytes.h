// Little-endian values at byte offsets of a mailbox message, for the
// stand-in's side of the protocol.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vornsim {

template <typename T>
using UnsignedOf = typename std::conditional_t<std::is_same_v<T, double>, std::type_identity<std::uint64_t>,
                                               std::make_unsigned<T>>::type;

template <typename T>
void store_le(std::uint8_t* at, T value) {
    const auto bits = std::bit_cast<UnsignedOf<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        at[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(bits) >> (8 * i));
    }
}

template <typename T>
T load_le(const std::uint8_t* at) {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bits |= std::uint64_t{at[i]} << (8 * i);
    }
    return std::bit_cast<T>(static_cast<UnsignedOf<T>>(bits));
}

}  // namespace vornsim
