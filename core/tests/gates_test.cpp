#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "amplitude_checks.h"
#include "qubit/register/register.h"

namespace qubit {
namespace {

using testing::awkward_state;
using testing::kPlentyOfMemory;
using testing::load;
using testing::same_bits;
using testing::same_state;
using testing::snapshot;

// The arithmetic every gate is defined by, written out here rather than borrowed.
Complex times(Complex m, Complex a) {
    return {m.re * a.re - m.im * a.im, m.re * a.im + m.im * a.re};
}
Complex plus(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }

// Every pair (i, i + 2^t), found by testing bit t of every index.
template <class Pair>
std::vector<Complex> dense(std::vector<Complex> state, unsigned t, Pair pair) {
    for (std::uint64_t i = 0; i < state.size(); ++i) {
        if (((i >> t) & 1) == 0) pair(state[i], state[i | (std::uint64_t{1} << t)]);
    }
    return state;
}

std::vector<Complex> dense_matrix(std::vector<Complex> state, unsigned t, Complex m00, Complex m01,
                                  Complex m10, Complex m11) {
    return dense(std::move(state), t, [&](Complex& lo, Complex& hi) {
        const Complex a0 = lo, a1 = hi;
        lo = plus(times(m00, a0), times(m01, a1));
        hi = plus(times(m10, a0), times(m11, a1));
    });
}

const double kAngles[] = {
    0.0, -0.0, std::numbers::pi, 0.3, -2.75, 1e300, std::numeric_limits<double>::infinity()};

TEST(SingleQubitGates, AgreeWithTheDenseFormulaOnAwkwardStates) {
    const double k = 0.7071067811865476;
    const Complex u00{0.6, -0.0}, u01{-0.0, 0.8}, u10{1e-310, -0.8}, u11{0.6, 0.5};
    for (unsigned n = 1; n <= 7; ++n) {
        for (unsigned t = 0; t < n; ++t) {
            SCOPED_TRACE(::testing::Message() << "n " << n << " target " << t);
            const std::vector<Complex> before = awkward_state(std::size_t{1} << n, 10 * n + t);
            QuantumRegister reg(n, kPlentyOfMemory);
            const auto check = [&](auto apply, const std::vector<Complex>& expected) {
                load(reg, before);
                ASSERT_TRUE(apply().ok());
                EXPECT_TRUE(same_state(reg.state(), expected));
            };
            check([&] { return reg.H(t); }, dense(before, t, [&](Complex& lo, Complex& hi) {
                      const Complex a0 = lo, a1 = hi;
                      lo = {(a0.re + a1.re) * k, (a0.im + a1.im) * k};
                      hi = {(a0.re - a1.re) * k, (a0.im - a1.im) * k};
                  }));
            check([&] { return reg.X(t); },
                  dense(before, t, [](Complex& lo, Complex& hi) { std::swap(lo, hi); }));
            check([&] { return reg.U(t, u00, u01, u10, u11); },
                  dense_matrix(before, t, u00, u01, u10, u11));
            for (const double theta : kAngles) {
                SCOPED_TRACE(::testing::Message() << "theta " << theta);
                const double s = std::sin(theta * 0.5), c = std::cos(theta * 0.5);
                check([&] { return reg.Rx(t, theta); },
                      dense_matrix(before, t, {c, 0.0}, {0.0, -s}, {0.0, -s}, {c, 0.0}));
                check([&] { return reg.Ry(t, theta); },
                      dense_matrix(before, t, {c, 0.0}, {-s, -0.0}, {s, 0.0}, {c, 0.0}));
                const Complex p0{std::cos(theta * -0.5), std::sin(theta * -0.5)};
                const Complex p1{std::cos(0.5 * theta), std::sin(0.5 * theta)};
                check([&] { return reg.Rz(t, theta); },
                      dense(before, t, [&](Complex& lo, Complex& hi) {
                          lo = times(p0, lo);
                          hi = times(p1, hi);
                      }));
            }
        }
    }
}

TEST(SingleQubitGates, HadamardTwiceRoundsAboveOne) {
    QuantumRegister reg(1, kPlentyOfMemory);
    ASSERT_TRUE(reg.H(0).ok());
    EXPECT_TRUE(same_bits(reg.state()[1], {0.7071067811865476, 0.0}));
    ASSERT_TRUE(reg.H(0).ok());
    EXPECT_EQ(reg.state()[0].re, 1.0000000000000002);  // k is rounded up, not 1/sqrt(2.0)
    EXPECT_TRUE(same_bits(reg.state()[1], {0.0, 0.0}));
}

TEST(SingleQubitGates, RxOfPiKeepsItsSignedZeros) {
    QuantumRegister reg(1, kPlentyOfMemory);
    ASSERT_TRUE(reg.Rx(0, std::numbers::pi).ok());
    EXPECT_TRUE(same_bits(reg.state()[0], {6.123233995736766e-17, 0.0}));
    EXPECT_TRUE(same_bits(reg.state()[1], {0.0, -1.0}));
}

TEST(SingleQubitGates, RzTurnsTheTwoHalvesOppositeWays) {
    QuantumRegister reg(3, kPlentyOfMemory);
    ASSERT_TRUE(reg.Rz(1, 0.8).ok());
    EXPECT_EQ(reg.state()[0].re, std::cos(0.4));
    EXPECT_EQ(reg.state()[0].im, -std::sin(0.4));  // e^(-i theta/2), not diag(1, e^(i theta))
    for (std::size_t i = 1; i < 8; ++i) EXPECT_TRUE(same_bits(reg.state()[i], {0.0, 0.0}));
}

TEST(SingleQubitGates, XMovesTheOneToItsQubit) {
    for (unsigned t = 0; t < 5; ++t) {
        QuantumRegister reg(5, kPlentyOfMemory);
        ASSERT_TRUE(reg.X(t).ok());
        for (std::size_t i = 0; i < 32; ++i) {
            EXPECT_EQ(reg.state()[i].re, i == (std::size_t{1} << t) ? 1.0 : 0.0);
        }
    }
}

TEST(SingleQubitGates, NanAngleIsAcceptedAndSpreads) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QuantumRegister reg(2, kPlentyOfMemory);
    ASSERT_TRUE(reg.H(0).ok());
    ASSERT_TRUE(reg.H(1).ok());
    ASSERT_TRUE(reg.Rx(0, nan).ok());
    ASSERT_TRUE(reg.Ry(1, nan).ok());
    ASSERT_TRUE(reg.Rz(0, nan).ok());
    for (const Complex& c : reg.state()) EXPECT_TRUE(std::isnan(c.re) && std::isnan(c.im));
}

TEST(SingleQubitGates, TargetOutsideTheRegisterFailsAndChangesNothing) {
    for (unsigned n = 0; n <= 3; ++n) {
        QuantumRegister reg(n, kPlentyOfMemory);
        load(reg, awkward_state(reg.dim(), n));
        const std::vector<Complex> before = snapshot(reg);
        const std::uint64_t huge = ~std::uint64_t{0};
        for (const std::uint64_t target : {std::uint64_t{n}, std::uint64_t{n} + 1, huge}) {
            const Complex one{1.0, 0.0};
            for (const GateResult& result :
                 {reg.H(target), reg.X(target), reg.U(target, one, one, one, one),
                  reg.Rx(target, 1.0), reg.Ry(target, 1.0), reg.Rz(target, 1.0)}) {
                ASSERT_FALSE(result.ok());
                EXPECT_EQ(result.message(), "...");
            }
        }
        EXPECT_TRUE(same_state(reg.state(), before));
    }
}

TEST(SingleQubitGates, HighestQubitPairsTheTwoHalves) {
    QuantumRegister reg(4, kPlentyOfMemory);
    load(reg, awkward_state(16, 7));
    const std::vector<Complex> before = snapshot(reg);
    const GateResult result = reg.X(3);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(&result.value().get(), &reg);  // the same register, for chaining
    for (std::size_t j = 0; j < 8; ++j) {
        EXPECT_TRUE(same_bits(reg.state()[j], before[j + 8]));
        EXPECT_TRUE(same_bits(reg.state()[j + 8], before[j]));
    }
}

}  // namespace
}  // namespace qubit
