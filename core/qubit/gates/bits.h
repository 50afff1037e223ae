// Bit tricks for enumerating basis indices: insertion, how every kernel reaches exactly the
// indices it touches, and counting through the values of a set of qubits.
#pragma once

#include <cstdint>

namespace qubit {

// The mask of qubit q alone.
constexpr std::uint64_t bit(std::uint64_t q) { return std::uint64_t{1} << q; }

// x with bit value b inserted at position p: the bits of x below p stay, the bits at p
// and above move up one place.
constexpr std::uint64_t insert_bit(std::uint64_t x, unsigned p, std::uint64_t b) {
    const std::uint64_t low = x & ((std::uint64_t{1} << p) - 1);
    return ((x >> p) << (p + 1)) | low | (b << p);
}

constexpr std::uint64_t insert_zero(std::uint64_t x, unsigned p) { return insert_bit(x, p, 0); }

// The next value of the qubits in `mask` after `values` (a subset of it): the counter plus
// one with the carry passed over the other bits; 0 after the last.
constexpr std::uint64_t next_value(std::uint64_t values, std::uint64_t mask) {
    return ((values | ~mask) + 1) & mask;
}

}  // namespace qubit
