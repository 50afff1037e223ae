#include "qubit/gates/exchange_runs.h"

#include <cstdint>
#include <span>
#include <utility>

#include "qubit/gates/fixed_bits.h"
#include "qubit/kernels/kernels.h"
#include "qubit/kernels/prefetch_ahead.h"
#include "qubit/kernels/staged_partners.h"

namespace qubit {
namespace {

constexpr std::uint64_t kLine = 64 / sizeof(Complex);

}  // namespace

void exchange_runs(std::span<Complex> state, unsigned n, const FixedBits& fixed,
                   std::uint64_t offset, bool prefetch) {
    require_index_below(fixed.last_index(n) + offset, state.size());
    Complex* const amplitudes = state.data();
    const std::uint64_t run = std::uint64_t{1} << fixed.lowest();
    // Partners a multiple of staged_partner_half() apart clash in an AMD core's cache
    // (staged_partners.h). Runs shorter than a line (a swap with qubit 0 or 1) clash line by
    // line too, but lose more in the gathering than they win, so they stay direct.
    if (run >= kLine && offset % staged_partner_half() == 0) {
        const auto each_run = [&](auto&& visit) { fixed.for_each_run(n, visit); };
        return run_staged(amplitudes, run, offset, each_run,
                          [](Complex* near, Complex* staged, std::uint64_t length) {
                              for (std::uint64_t i = 0; i < length; ++i) {
                                  std::swap(near[i], staged[i]);
                              }
                          });
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
