#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "amplitude_checks.h"
#include "qubit/gates/pair_pass.h"
#include "qubit/kernels/kernels.h"
#include "qubit/register/register.h"
#include "qubit/state/fatal_error.h"

namespace qubit {
namespace {

using testing::apply_controlled;
using testing::awkward_state;
using testing::kPlentyOfMemory;
using testing::load;
using testing::same_bits;
using testing::same_state;
using testing::snapshot;

const Complex kU00{0.6, -0.0}, kU01{-0.0, 0.8}, kU10{1e-310, -0.8}, kU11{0.6, 0.5};

Complex times(Complex m, Complex a) {
    return {m.re * a.re - m.im * a.im, m.re * a.im + m.im * a.re};
}
Complex plus(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }

// Every index, testing whether all controls are set and the target is clear.
std::vector<Complex> dense_mcu(std::vector<Complex> state, const Qubits& controls,
                               unsigned target) {
    for (std::uint64_t i = 0; i < state.size(); ++i) {
        bool selected = ((i >> target) & 1) == 0;
        for (const std::uint64_t c : controls) selected = selected && ((i >> c) & 1) == 1;
        if (!selected) continue;
        Complex& lo = state[i];
        Complex& hi = state[i | (std::uint64_t{1} << target)];
        const Complex a0 = lo, a1 = hi;
        lo = plus(times(kU00, a0), times(kU01, a1));
        hi = plus(times(kU10, a0), times(kU11, a1));
    }
    return state;
}

GateResult mcu(QuantumRegister& reg, Qubits controls, std::uint64_t target) {
    return reg.MCU(std::move(controls), target, kU00, kU01, kU10, kU11);
}

TEST(MultiControlledGate, AgreesWithTheDenseFormulaForEveryArrangement) {
    for (unsigned n = 1; n <= 6; ++n) {
        const std::vector<Complex> before = awkward_state(std::size_t{1} << n, 100 + n);
        QuantumRegister reg(n, kPlentyOfMemory);
        for (unsigned target = 0; target < n; ++target) {
            for (std::uint64_t subset = 0; subset < (std::uint64_t{1} << n); ++subset) {
                if ((subset >> target) & 1) continue;
                Qubits controls;
                for (unsigned q = n; q-- > 0;) {  // descending: the list order must not matter
                    if ((subset >> q) & 1) controls.push_back(q);
                }
                SCOPED_TRACE(::testing::Message()
                             << "n " << n << " target " << target << " controls " << subset);
                load(reg, before);
                ASSERT_TRUE(mcu(reg, controls, target).ok());
                ASSERT_TRUE(same_state(reg.state(), dense_mcu(before, controls, target)));
            }
        }
    }
}

TEST(MultiControlledGate, WithoutControlsIsUToTheBit) {
    for (unsigned n = 1; n <= 9; ++n) {
        for (unsigned t = 0; t < n; ++t) {
            QuantumRegister with_u(n, kPlentyOfMemory), with_mcu(n, kPlentyOfMemory);
            load(with_u, awkward_state(with_u.dim(), n * 31 + t));
            load(with_mcu, snapshot(with_u));
            ASSERT_TRUE(with_u.U(t, kU00, kU01, kU10, kU11).ok());
            ASSERT_TRUE(mcu(with_mcu, {}, t).ok());
            ASSERT_TRUE(same_state(with_mcu.state(), with_u.state()));
        }
    }
}

TEST(MultiControlledGate, ControlOrderDoesNotMatter) {
    QuantumRegister a(3, kPlentyOfMemory), b(3, kPlentyOfMemory);
    load(a, awkward_state(8, 3));
    load(b, snapshot(a));
    const std::vector<Complex> before = snapshot(a);
    ASSERT_TRUE(mcu(a, {2, 0}, 1).ok());
    ASSERT_TRUE(mcu(b, {0, 2}, 1).ok());
    EXPECT_TRUE(same_state(a.state(), b.state()));
    for (std::size_t i = 0; i < 8; ++i) {
        if (i != 5 && i != 7) {
            EXPECT_TRUE(same_bits(a.state()[i], before[i])) << i;
        }
    }
    EXPECT_FALSE(same_bits(a.state()[5], before[5]));
}

TEST(MultiControlledGate, AllOtherQubitsAsControlsTouchOnePair) {
    const unsigned n = 5;
    for (unsigned t = 0; t < n; ++t) {
        QuantumRegister reg(n, kPlentyOfMemory);
        load(reg, awkward_state(32, t));
        const std::vector<Complex> before = snapshot(reg);
        Qubits controls;
        for (unsigned q = 0; q < n; ++q) {
            if (q != t) controls.push_back(q);
        }
        ASSERT_TRUE(mcu(reg, controls, t).ok());
        const std::uint64_t i1 = 31, i0 = 31 - (std::uint64_t{1} << t);
        for (std::uint64_t i = 0; i < 32; ++i) {
            if (i != i0 && i != i1) {
                EXPECT_TRUE(same_bits(reg.state()[i], before[i]));
            }
        }
        EXPECT_TRUE(
            same_bits(reg.state()[i0], plus(times(kU00, before[i0]), times(kU01, before[i1]))));
    }
}

TEST(MultiControlledGate, NotMatrixWithOneControlIsCnot) {
    const Complex zero{0.0, 0.0}, one{1.0, 0.0};
    for (unsigned c = 0; c < 4; ++c) {
        for (unsigned t = 0; t < 4; ++t) {
            if (c == t) continue;
            QuantumRegister a(4, kPlentyOfMemory), b(4, kPlentyOfMemory);
            for (std::uint64_t i = 0; i < 16; ++i) a.state()[i] = {0.25 * i - 1.0, 3.0 - i};
            load(b, snapshot(a));
            ASSERT_TRUE(a.MCU({c}, t, zero, one, one, zero).ok());
            ASSERT_TRUE(b.CNOT(c, t).ok());
            for (std::uint64_t i = 0; i < 16; ++i) {  // equal in value; zeros may differ in sign
                EXPECT_EQ(a.state()[i].re, b.state()[i].re);
                EXPECT_EQ(a.state()[i].im, b.state()[i].im);
            }
        }
    }
}

TEST(MultiControlledGate, ZeroMatrixClearsOnlyTheControlledStates) {
    const Complex zero{0.0, 0.0};
    QuantumRegister reg(4, kPlentyOfMemory);
    for (std::uint64_t i = 0; i < 16; ++i) reg.state()[i] = {1.0 + i, -2.0};
    ASSERT_TRUE(reg.MCU({3}, 1, zero, zero, zero, zero).ok());
    for (std::uint64_t i = 0; i < 16; ++i) {
        EXPECT_EQ(reg.state()[i].re, i >= 8 ? 0.0 : 1.0 + i);
    }
}

TEST(MultiControlledGate, BadQubitsFailAndChangeNothing) {
    QuantumRegister reg(4, kPlentyOfMemory);
    load(reg, awkward_state(16, 9));
    const std::vector<Complex> before = snapshot(reg);
    for (const auto& [controls, target] : std::vector<std::pair<Qubits, std::uint64_t>>{
             {{}, 4},
             {{0}, 4},
             {{4}, 0},
             {{1, ~std::uint64_t{0}}, 0},
             {{2}, 2},
             {{0, 1, 0}, 3},
             {{1, 2, 3, 1}, 0},
             {{0, 1, 2, 3}, 3},  // more controls than n - 1 must repeat or name the target
         }) {
        const GateResult result = mcu(reg, controls, target);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.message(), "...");
    }
    EXPECT_TRUE(same_state(reg.state(), before));

    QuantumRegister one(1, kPlentyOfMemory);
    EXPECT_EQ(mcu(one, {0}, 0).message(), "...");
    ASSERT_TRUE(mcu(one, {}, 0).ok());
    EXPECT_TRUE(same_bits(one.state()[0], plus(times(kU00, {1.0, 0.0}), times(kU01, {0.0, 0.0}))));
}

TEST(MultiControlledGate, StateShorterThanItsQubitsIsFatalBeforeAnyWrite) {
    // Unreachable through a register; the driver still proves its indices in range.
    std::vector<Complex> amplitudes = awkward_state(64, 5);
    const std::vector<Complex> before = amplitudes;
    const std::span<Complex> short_state(amplitudes.data(), 63);
    const Matrix2 m{kU00, kU01, kU10, kU11};
    for (const std::uint64_t controls : {0b000000u, 0b100000u, 0b000011u, 0b010100u}) {
        EXPECT_THROW(apply_controlled(short_state, 6, controls, 3, m, active_kernels()),
                     FatalError);
    }
    EXPECT_TRUE(same_state(amplitudes, before));
}

}  // namespace
}  // namespace qubit
