// How many qubits the simulator can count, named once.
#pragma once

#include <cstdint>
#include <limits>

namespace qubit {

// The largest register: its 16 << n bytes of amplitudes must fit a signed 64-bit size.
inline constexpr std::uint64_t kMaxQubits = 58;
static_assert((std::uint64_t{16} << kMaxQubits) <= std::numeric_limits<std::int64_t>::max() &&
              (std::uint64_t{16} << (kMaxQubits + 1)) > std::numeric_limits<std::int64_t>::max());

// From this many qubits on, a size of 2^n amplitudes (or table entries) is "capacity
// overflow" before it is computed: 16 << n itself would no longer fit 64 bits.
inline constexpr std::uint64_t kOverflowQubits = 60;
static_assert(kMaxQubits < kOverflowQubits && (kOverflowQubits - 1) + 4 < 64,
              "16 << n is computed for every n below it");

}  // namespace qubit
