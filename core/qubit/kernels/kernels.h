// The amplitude kernels of the one-qubit operations, as families of interchangeable
// implementations: a plain one, which defines the results, and vector twins that must
// reproduce them bit for bit. Which family runs is decided once, at the first gate, from
// what the processor and the operating system support.
//
// Every kernel works on pairs (a0, a1) of amplitudes whose indices differ only in the
// target bit, reads both before writing either, and uses only the arithmetic of complex.h.
// Each takes a batch of places in `state`, so that a gate touching many small pieces of
// the vector pays for a call and the setup of its constants once per batch:
//   blocks: for each start s, all target-t pairs of state[s .. s + size), where size is a
//           multiple of 2^(t+1);
//   runs:   for each start s, the pairs (state[s + i], state[s + i + half]) for
//           i < length, with length <= half.
// No kernel assumes more alignment than that of an amplitude.
//
// The matrix and flip kernels also take `slots`, for controls that fall inside a vector register:
// the amplitude at offset i from its start changes only if bit (i mod 2^vector_log2) of
// `slots` is set and keeps its bits otherwise. kAllSlots changes them all.
//
// The vector files are compiled with wider instruction sets, so they must define nothing
// the linker could share with other files: no symbol with external or inline linkage but
// their family table. A function they call from a header is emitted in their object as a
// weak copy unless it is inlined, and constexpr makes no difference when it runs at run
// time; the linker then keeps any one copy for every caller, perhaps the vector one. So
// what they define stays in their anonymous namespace, and they call from headers only
// functions with internal linkage or none at all; headers may still hold inline code that
// they do not call. scripts/check-vector-objects checks their objects with nm.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include "qubit/state/complex.h"

namespace qubit {

// 1/sqrt(2) correctly rounded; 1.0 / std::sqrt(2.0) is one ulp below it.
inline constexpr double kHadamard = std::bit_cast<double>(std::uint64_t{0x3FE6A09E667F3BCD});

// [[m00, m01], [m10, m11]]: new0 = m00*a0 + m01*a1, new1 = m10*a0 + m11*a1.
struct Matrix2 {
    Complex m00, m01, m10, m11;
};

// diag(p0, p1): new0 = p0*a0, new1 = p1*a1.
struct Diagonal {
    Complex p0, p1;
};

inline constexpr unsigned kAllSlots = ~0u;

struct KernelFamily {
    const char* name;
    unsigned vector_log2;  // a vector register holds 2^vector_log2 amplitudes
    void (*matrix_blocks)(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                          std::uint64_t size, unsigned target, const Matrix2& m, unsigned slots);
    void (*matrix_runs)(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                        std::uint64_t length, std::uint64_t half, const Matrix2& m, unsigned slots);
    void (*diagonal_blocks)(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                            std::uint64_t size, unsigned target, const Diagonal& d);
    void (*diagonal_runs)(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                          std::uint64_t length, std::uint64_t half, const Diagonal& d);
    // new0 = (a0 + a1) * kHadamard, new1 = (a0 - a1) * kHadamard, part by part.
    void (*hadamard_blocks)(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                            std::uint64_t size, unsigned target);
    void (*hadamard_runs)(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                          std::uint64_t length, std::uint64_t half);
    // new0 = a1, new1 = a0: moves only, so every bit is kept. `slots` as for the matrices.
    void (*flip_blocks)(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                        std::uint64_t size, unsigned target, unsigned slots);
    void (*flip_runs)(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                      std::uint64_t length, std::uint64_t half, unsigned slots);
    // Whether these kernels ask for memory ahead of them. A pass over a large state needs
    // that to run at memory speed; a tile already in cache only pays for it, and for the
    // lines fetched past the tile's runs.
    bool prefetches;
    // The same kernels, arithmetic and all, without prefetching, for tiles.
    const KernelFamily* without_prefetch;
};

extern const KernelFamily kPlainKernels;
extern const KernelFamily kAvx2Kernels;
extern const KernelFamily kAvx512Kernels;

// The fastest family this machine can run; chosen on the first call.
const KernelFamily& active_kernels();

// Pairs whose partners lie at least this many amplitudes apart (a power of two) have their
// upper partners copied through a small buffer by every family (kernel_batches.h says why):
// 2^24 on AMD processors, none elsewhere. Decided on the first call.
std::uint64_t staged_partner_half();

// Staged partners go a piece of this many amplitudes (4 KiB) at a time: a whole number of
// registers and of cache lines, small enough to stay in the first-level cache.
inline constexpr std::uint64_t kStagedPiece = 256;

// For tests: stage partners from `half` amplitudes apart on (a power of two), whatever the
// processor; 0 gives the processor's choice back.
void stage_partners_from(std::uint64_t half);

// Every family this machine can run, the plain one first.
std::vector<const KernelFamily*> supported_kernels();

}  // namespace qubit
