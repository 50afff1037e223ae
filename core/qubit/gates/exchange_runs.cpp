#include "qubit/gates/exchange_runs.h"

#include <cstdint>
#include <span>
#include <utility>

#include "qubit/gates/fixed_bits.h"
#include "qubit/kernels/prefetch_ahead.h"

namespace qubit {
namespace {

constexpr std::uint64_t kLine = 64 / sizeof(Complex);

}  // namespace

void exchange_runs(std::span<Complex> state, unsigned n, const FixedBits& fixed,
                   std::uint64_t offset, bool prefetch) {
    require_index_below(fixed.last_index(n) + offset, state.size());
    Complex* const amplitudes = state.data();
    const std::uint64_t run = std::uint64_t{1} << fixed.lowest();
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
