// Far partners through a small buffer. An AMD core's first-level cache finds a line by a tag
// made of the address's 28 low bits, so it cannot hold two lines whose addresses agree there:
// partners staged_partner_half() amplitudes (256 MiB) apart or further evict each other at
// every access. Against a buffer they do not clash, and the copies cost far less than the
// clashes (docs/performance.md). The buffer only moves amplitudes: the arithmetic, and so the
// bits, are those of the direct path.
//
// The kernel families and the swaps share this loop. The vector kernel files include it too,
// so it has internal linkage: each file keeps its own copy, built with its own flags (see
// kernels.h).
#pragma once

#include <cstdint>

#include "qubit/kernels/kernels.h"
#include "qubit/state/complex.h"

namespace qubit {

// Runs of `run` amplitudes from each near index that visit_starts(visit) hands to `visit`,
// with their partners `offset` amplitudes above: work(near, staged, length) for each piece of
// at most kStagedPiece amplitudes, where `staged` holds the far partners of `near` and is
// written back after. A piece makes all its far reads, then its work, then its far writes,
// so the two sides never take turns in the cache; short runs share a piece. The buffer is
// 4 KiB and its starts at most 2 KiB, small enough for any thread's stack.
template <class VisitStarts, class Work>
static inline void run_staged(Complex* amplitudes, std::uint64_t run, std::uint64_t offset,
                              VisitStarts&& visit_starts, Work&& work) {
    alignas(64) Complex buffer[kStagedPiece];
    std::uint64_t starts[kStagedPiece];
    std::uint64_t count = 0;
    const auto piece = [&](std::uint64_t length) {
        for (std::uint64_t k = 0; k < count; ++k) {
            const Complex* const far = amplitudes + starts[k] + offset;
            for (std::uint64_t i = 0; i < length; ++i) buffer[k * length + i] = far[i];
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            work(amplitudes + starts[k], buffer + k * length, length);
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            Complex* const far = amplitudes + starts[k] + offset;
            for (std::uint64_t i = 0; i < length; ++i) far[i] = buffer[k * length + i];
        }
        count = 0;
    };
    if (run == 0) return;
    if (run >= kStagedPiece) {  // a long run is pieces of its own
        visit_starts([&](std::uint64_t start) {
            for (std::uint64_t i = 0; i < run; i += kStagedPiece) {
                starts[count++] = start + i;
                piece(run - i < kStagedPiece ? run - i : kStagedPiece);
            }
        });
        return;
    }
    const std::uint64_t runs_per_piece = kStagedPiece / run;
    visit_starts([&](std::uint64_t start) {
        starts[count++] = start;
        if (count == runs_per_piece) piece(run);
    });
    piece(run);
}

}  // namespace qubit
