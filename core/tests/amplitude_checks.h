// Shared by the gate tests: exact comparison of amplitudes and awkward random states.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "qubit/gates/fixed_bits.h"
#include "qubit/gates/pair_pass.h"
#include "qubit/register/register.h"
#include "qubit/state/complex.h"

namespace qubit::testing {

// Bit for bit. Against arithmetic written out in a test, any NaN matches any NaN: which
// operand's payload and sign a NaN result carries depends on the order the compiler puts
// the operands in. The kernel families pin that order, so they match NaNs exactly too.
enum class Nans { kAnyMatches, kExact };

inline bool same_double(double a, double b, Nans nans = Nans::kAnyMatches) {
    if (nans == Nans::kAnyMatches && (std::isnan(a) || std::isnan(b))) {
        return std::isnan(a) && std::isnan(b);
    }
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

inline bool same_bits(Complex a, Complex b, Nans nans = Nans::kAnyMatches) {
    return same_double(a.re, b.re, nans) && same_double(a.im, b.im, nans);
}

inline std::string show(Complex c) {
    char text[80];
    std::snprintf(text, sizeof text, "(%a, %a)", c.re, c.im);
    return text;
}

inline ::testing::AssertionResult same_state(std::span<const Complex> actual,
                                             std::span<const Complex> expected,
                                             Nans nans = Nans::kAnyMatches) {
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "sizes " << actual.size() << " and " << expected.size();
    }
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (!same_bits(actual[i], expected[i], nans)) {
            return ::testing::AssertionFailure() << "index " << i << ": " << show(actual[i])
                                                 << " instead of " << show(expected[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// Random amplitudes, one part in eight of them an awkward value: NaN of either sign, with
// or without a payload, an infinity, a signed zero or a subnormal.
inline std::vector<Complex> awkward_state(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                               -std::bit_cast<double>(std::uint64_t{0x7ff80000000c0ffe}),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               0.0,
                               -0.0,
                               std::numeric_limits<double>::denorm_min(),
                               -3.5 * std::numeric_limits<double>::denorm_min(),
                               1e-310};
    const auto part = [&] {
        if (rng() % 8 == 0) return specials[rng() % std::size(specials)];
        return uniform(rng);
    };
    std::vector<Complex> state(size);
    for (Complex& c : state) c = {part(), part()};
    return state;
}

inline void load(QuantumRegister& reg, const std::vector<Complex>& amplitudes) {
    std::copy(amplitudes.begin(), amplitudes.end(), reg.state().begin());
}

inline std::vector<Complex> snapshot(const QuantumRegister& reg) {
    return {reg.state().begin(), reg.state().end()};
}

// `m` on `target` where every qubit of `controls` is 1, over the whole state: the pair
// driver that every controlled gate goes through, with no qubit fixed.
inline void apply_controlled(std::span<Complex> state, unsigned n, std::uint64_t controls,
                             unsigned target, const Matrix2& m, const KernelFamily& family) {
    apply_pair_op(state, n, FixedBits{}, controls, target, {PairOp::Kind::kMatrix, &m}, family);
}

// Enough bytes for any register these tests build.
inline constexpr std::uint64_t kPlentyOfMemory = std::uint64_t{1} << 40;

}  // namespace qubit::testing
