#include "qubit/gates/exchange_runs.h"

#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"

namespace qubit {
namespace {

// The hardware prefetcher alone leaves the exchanges short of memory speed, so the loop asks
// for the lines 4 KiB ahead of it. A prefetch never faults; the address is made as an
// integer, so passing the end is harmless.
void prefetch_ahead(const Complex* p) {
    constexpr std::uintptr_t kAheadBytes = 4096;
    __builtin_prefetch(
        reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + kAheadBytes), 1);
}

}  // namespace

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
