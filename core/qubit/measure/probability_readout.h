// The probability of every basis state, read out without touching the amplitudes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "qubit/state/complex.h"

namespace qubit {

// What a read-out of `count` basis states costs in the end: 8 bytes for each double plus about
// 32 for the slot and the float object of the Python list the doubles become.
constexpr std::uint64_t kReadoutBytesPerState = 40;

// Entry i is re*re + im*im of state[i], on up to `threads` threads (each entry is one
// amplitude's, so the bits do not depend on them). Throws FatalError, before allocating, when
// kReadoutBytesPerState * state.size() exceeds `available_bytes`.
std::vector<double> probabilities(std::span<const Complex> state, std::uint64_t available_bytes,
                                  unsigned threads = 1);

// Throws FatalError, the read-out's memory-guard text, when kReadoutBytesPerState * count
// exceeds `available_bytes`.
void check_readout_fits(std::uint64_t count, std::uint64_t available_bytes);

// out[i] = re*re + im*im of state[i], on up to `threads` threads.
void fill_probabilities(std::span<const Complex> state, double* out, unsigned threads = 1);

// An empty vector with room for `count` doubles (count <= 2^kMaxQubits). Throws FatalError naming
// the byte count when the allocator refuses.
std::vector<double> reserved_doubles(std::uint64_t count);

}  // namespace qubit
