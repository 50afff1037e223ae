#include <cstdint>
#include <span>
#include <string>

#include "qubit/exchange_runs.h"
#include "qubit/index_runs.h"
#include "qubit/prefetch_ahead.h"
#include "qubit/register.h"

namespace qubit {
namespace {

constexpr std::uint64_t bit(std::uint64_t position) { return std::uint64_t{1} << position; }

GateResult fail(const char* message) { return Failure{message}; }

}  // namespace

void exchange_runs(std::span<Complex> state, unsigned n, const FixedBits& fixed,
                   std::uint64_t offset) {
    require_index_below(fixed.last_index(n) + offset, state.size());
    Complex* const amplitudes = state.data();
    const std::uint64_t run = bit(fixed.lowest());
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

GateResult QuantumRegister::CNOT(std::uint64_t control, std::uint64_t target) {
    if (control == target || target >= n_ || control >= n_) return fail("...");
    FixedBits fixed;
    fixed.add(control, 1);
    fixed.add(target, 0);
    exchange_runs(state(), n_, fixed, bit(target));
    return done();
}

GateResult QuantumRegister::SWAP(std::uint64_t q1, std::uint64_t q2) {
    if (q1 == q2 || q1 >= n_ || q2 >= n_) return fail("...");
    const std::uint64_t lo = q1 < q2 ? q1 : q2;
    const std::uint64_t hi = q1 < q2 ? q2 : q1;
    // From (lo, hi) = (1, 0) to (0, 1), always forward.
    FixedBits fixed;
    fixed.add(lo, 1);
    fixed.add(hi, 0);
    exchange_runs(state(), n_, fixed, bit(hi) - bit(lo));
    return done();
}

GateResult QuantumRegister::CCNOT(std::uint64_t control1, std::uint64_t control2,
                                  std::uint64_t target) {
    if (control2 >= n_ || target >= n_ || control1 >= n_ || control1 == control2 ||
        control1 == target || control2 == target) {
        return fail("input out of scope.");
    }
    FixedBits fixed;
    fixed.add(control1, 1);
    fixed.add(control2, 1);
    fixed.add(target, 0);
    exchange_runs(state(), n_, fixed, bit(target));
    return done();
}

GateResult QuantumRegister::CSSWAP(std::uint64_t control, std::uint64_t target_1,
                                   std::uint64_t target_2) {
    if (target_2 >= n_ || control >= n_ || target_1 >= n_ || control == target_1 ||
        control == target_2 || target_1 == target_2) {
        return fail("...");
    }
    const std::uint64_t lo = target_1 < target_2 ? target_1 : target_2;
    const std::uint64_t hi = target_1 < target_2 ? target_2 : target_1;
    FixedBits fixed;
    fixed.add(control, 1);
    fixed.add(lo, 1);
    fixed.add(hi, 0);
    exchange_runs(state(), n_, fixed, bit(hi) - bit(lo));
    return done();
}

}  // namespace qubit
