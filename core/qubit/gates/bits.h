// Bit insertion: how every kernel enumerates exactly the basis indices it touches.
#pragma once

#include <cstdint>

namespace qubit {

// x with bit value b inserted at position p: the bits of x below p stay, the bits at p
// and above move up one place.
constexpr std::uint64_t insert_bit(std::uint64_t x, unsigned p, std::uint64_t b) {
    const std::uint64_t low = x & ((std::uint64_t{1} << p) - 1);
    return ((x >> p) << (p + 1)) | low | (b << p);
}

constexpr std::uint64_t insert_zero(std::uint64_t x, unsigned p) { return insert_bit(x, p, 0); }

}  // namespace qubit
