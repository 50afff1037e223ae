#include "qubit/gates/exchange_runs.h"

#include <cstdint>
#include <span>
#include <utility>

#include "qubit/gates/fixed_bits.h"
#include "qubit/kernels/kernels.h"
#include "qubit/kernels/prefetch_ahead.h"

namespace qubit {
namespace {

constexpr std::uint64_t kLine = 64 / sizeof(Complex);

// The exchange with the far partners gathered into a buffer first, a piece at a time:
// all of a piece's reads on one side, then its exchanges against the buffer, then its
// writes on the other side, so the two sides never take turns in the cache.
void exchange_staged(Complex* amplitudes, unsigned n, const FixedBits& fixed,
                     std::uint64_t offset) {
    Complex buffer[kStagedPiece];
    std::uint64_t starts[kStagedPiece / kLine];  // runs here are whole lines
    const std::uint64_t run = std::uint64_t{1} << fixed.lowest();
    const std::uint64_t length = run < kStagedPiece ? run : kStagedPiece;
    std::uint64_t count = 0;
    const auto exchange_piece = [&] {
        for (std::uint64_t k = 0; k < count; ++k) {
            const Complex* const far = amplitudes + starts[k] + offset;
            for (std::uint64_t i = 0; i < length; ++i) buffer[k * length + i] = far[i];
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            Complex* const near = amplitudes + starts[k];
            for (std::uint64_t i = 0; i < length; ++i) std::swap(near[i], buffer[k * length + i]);
        }
        for (std::uint64_t k = 0; k < count; ++k) {
            Complex* const far = amplitudes + starts[k] + offset;
            for (std::uint64_t i = 0; i < length; ++i) far[i] = buffer[k * length + i];
        }
        count = 0;
    };
    fixed.for_each_run(n, [&](std::uint64_t start) {
        // A long run is pieces of its own; short ones share a piece.
        for (std::uint64_t i = 0; i < run; i += length) {
            starts[count++] = start + i;
            if (count * length == kStagedPiece) exchange_piece();
        }
    });
    exchange_piece();
}

}  // namespace

void exchange_runs(std::span<Complex> state, unsigned n, const FixedBits& fixed,
                   std::uint64_t offset, bool prefetch) {
    require_index_below(fixed.last_index(n) + offset, state.size());
    Complex* const amplitudes = state.data();
    const std::uint64_t run = std::uint64_t{1} << fixed.lowest();
    // Partners a multiple of staged_partner_half() apart clash in an AMD core's cache
    // (kernel_batches.h says why): a swap of qubits 24 and 25 of 26 took 225 ms, three
    // streaming passes, and 51 ms staged. Runs shorter than a line (a swap with qubit 0 or
    // 1) clash line by line too, but lost more in the gathering than they won: 490 ms
    // staged for qubits 0 and 25 against 220 direct.
    if (run >= kLine && offset % staged_partner_half() == 0) {
        return exchange_staged(amplitudes, n, fixed, offset);
    }
    fixed.for_each_run(n, [&](std::uint64_t start) {
        Complex* const a = amplitudes + start;
        Complex* const b = a + offset;
        // A cache line (four amplitudes) at a time, with one prefetch for each side; runs
        // are powers of two, so a run of four or more is whole lines.
        std::uint64_t i = 0;
        for (; i + kLine <= run; i += kLine) {
            if (prefetch) {
                prefetch_ahead(a + i);
                prefetch_ahead(b + i);
            }
            for (std::uint64_t k = i; k < i + kLine; ++k) std::swap(a[k], b[k]);
        }
        for (; i < run; ++i) std::swap(a[i], b[i]);
    });
}

}  // namespace qubit
