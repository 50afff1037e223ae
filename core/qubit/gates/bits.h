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

// The low bits of x, one by one, at the positions of `mask`, lowest first: the inverse of
// reading a mask's bits as a counter, so that item i of the values of a set of qubits is
// deposit_bits(i, mask) (next_value counts through the same values in the same order).
constexpr std::uint64_t deposit_bits(std::uint64_t x, std::uint64_t mask) {
    std::uint64_t result = 0;
    for (; mask != 0 && x != 0; mask &= mask - 1, x >>= 1) {
        result |= (x & 1) * (mask & (~mask + 1));
    }
    return result;
}

}  // namespace qubit
