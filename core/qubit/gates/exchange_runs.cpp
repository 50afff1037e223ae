#include "qubit/gates/exchange_runs.h"

#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"
#include "qubit/kernels/prefetch_ahead.h"

namespace qubit {

void exchange_runs(std::span<Complex> state, unsigned n, const FixedBits& fixed,
                   std::uint64_t offset) {
    require_index_below(fixed.last_index(n) + offset, state.size());
    Complex* const amplitudes = state.data();
    const std::uint64_t run = std::uint64_t{1} << fixed.lowest();
    fixed.for_each_run(n, [&](std::uint64_t start) {
        Complex* const a = amplitudes + start;
        Complex* const b = a + offset;
        for (std::uint64_t i = 0; i < run; ++i) {
            prefetch_ahead(a + i);
            prefetch_ahead(b + i);
            const Complex t = a[i];
            a[i] = b[i];
            b[i] = t;
        }
    });
}

}  // namespace qubit
