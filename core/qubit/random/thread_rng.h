// The calling thread's random source: a ChaCha12 stream, keyed from the operating system on
// the thread's first draw and re-keyed after every 1024 blocks (64 KiB) of output. A forked
// child keys its own stream afresh instead of repeating the parent's.
#pragma once

#include <cstdint>

namespace qubit {

// The next 64 bits of this thread's stream: the earlier 32-bit word low, the later one high.
// Throws FatalError "could not initialize ThreadRng: ..." when the first key cannot be had.
std::uint64_t draw_u64();

// (draw_u64() >> 11) * 2^-53: uniform over the multiples of 2^-53 in [0, 1).
double draw_f64();

// The conversion draw_f64 applies: the top 53 bits, exactly, times 2^-53; never 1.
constexpr double unit_double_from(std::uint64_t bits) {
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
}

}  // namespace qubit
