#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "amplitude_checks.h"
#include "qubit/gates/gate_record.h"
#include "qubit/kernels/kernels.h"
#include "qubit/register/register.h"

namespace qubit {
namespace {

using testing::awkward_state;
using testing::kPlentyOfMemory;
using testing::load;
using testing::same_state;
using testing::snapshot;

std::uint64_t bit(std::uint64_t i, unsigned q) { return (i >> q) & 1; }

// The state after moving the amplitude of every basis state i to where(i).
std::vector<Complex> permuted(const std::vector<Complex>& state,
                              const std::function<std::uint64_t(std::uint64_t)>& where) {
    std::vector<Complex> out(state.size());
    for (std::uint64_t i = 0; i < state.size(); ++i) out[where(i)] = state[i];
    return out;
}

std::uint64_t flip(std::uint64_t i, unsigned q) { return i ^ (std::uint64_t{1} << q); }
std::uint64_t exchange(std::uint64_t i, unsigned p, unsigned q) {
    return bit(i, p) == bit(i, q) ? i : flip(flip(i, p), q);
}

// A register of n qubits holding one amplitude 1 at `index`, to follow where it goes.
std::uint64_t where_one_goes(unsigned n, std::uint64_t index,
                             const std::function<GateResult(QuantumRegister&)>& gate) {
    QuantumRegister reg(n, kPlentyOfMemory);
    reg.state()[0] = {0.0, 0.0};
    reg.state()[index] = {1.0, 0.0};
    EXPECT_TRUE(gate(reg).ok());
    for (std::uint64_t i = 0; i < reg.dim(); ++i) {
        if (reg.state()[i].re == 1.0) return i;
    }
    return ~std::uint64_t{0};
}

TEST(PermutationGates, AgreeWithTheirBitFormulasForEveryArrangement) {
    for (unsigned n = 2; n <= 6; ++n) {
        const std::vector<Complex> before = awkward_state(std::size_t{1} << n, n);
        QuantumRegister reg(n, kPlentyOfMemory);
        const auto check = [&](const std::function<GateResult()>& gate,
                               const std::function<std::uint64_t(std::uint64_t)>& where) {
            load(reg, before);
            ASSERT_TRUE(gate().ok());
            EXPECT_TRUE(same_state(reg.state(), permuted(before, where)));
            // A permutation moves whole amplitudes: done twice it restores every bit.
            ASSERT_TRUE(gate().ok());
            EXPECT_TRUE(same_state(reg.state(), before));
        };
        for (unsigned a = 0; a < n; ++a) {
            for (unsigned b = 0; b < n; ++b) {
                if (a == b) continue;
                SCOPED_TRACE(::testing::Message() << "n " << n << " qubits " << a << " " << b);
                check([&] { return reg.CNOT(a, b); },
                      [&](std::uint64_t i) { return bit(i, a) ? flip(i, b) : i; });
                check([&] { return reg.SWAP(a, b); },
                      [&](std::uint64_t i) { return exchange(i, a, b); });
                for (unsigned c = 0; c < n; ++c) {
                    if (c == a || c == b) continue;
                    SCOPED_TRACE(::testing::Message() << "third qubit " << c);
                    check([&] { return reg.CCNOT(a, b, c); },
                          [&](std::uint64_t i) { return bit(i, a) && bit(i, b) ? flip(i, c) : i; });
                    check([&] { return reg.CSSWAP(a, b, c); },
                          [&](std::uint64_t i) { return bit(i, a) ? exchange(i, b, c) : i; });
                }
            }
        }
    }
}

// Flips with any target and up to three controls, in every kernel family: controls and
// targets inside one vector register take the shuffles and slot masks, the others the runs.
// A flip only moves amplitudes, so NaN payloads must arrive bit for bit.
TEST(PermutationGates, FlipsMoveTheSameAmplitudesInEveryKernelFamily) {
    for (const KernelFamily* family : supported_kernels()) {
        for (unsigned n = 1; n <= 7; ++n) {
            const std::vector<Complex> before = awkward_state(std::size_t{1} << n, 60 + n);
            for (unsigned t = 0; t < n; ++t) {
                for (std::uint64_t controls = 0; controls < (std::uint64_t{1} << n); ++controls) {
                    if (((controls >> t) & 1) != 0 || std::popcount(controls) > 3) continue;
                    SCOPED_TRACE(::testing::Message() << family->name << " n " << n << " target "
                                                      << t << " controls " << controls);
                    GateRecord gate{};
                    gate.kind = GateKind::kFlip;
                    gate.target = static_cast<std::uint8_t>(t);
                    gate.controls = controls;
                    std::vector<Complex> state = before;
                    apply_gate(state, n, gate, *family);
                    const auto where = [&](std::uint64_t i) {
                        return (i & controls) == controls ? flip(i, t) : i;
                    };
                    ASSERT_TRUE(same_state(state, permuted(before, where), testing::Nans::kExact));
                }
            }
        }
    }
}

// Exchanges whose partners clash in an AMD core's cache go through a buffer
// (exchange_runs.cpp). Forced here from 8 and from 64 amplitudes apart on, small states take
// that path with runs of every length, shorter and longer than its pieces.
TEST(PermutationGates, StagedExchangesMoveTheRightAmplitudes) {
    struct Unstage {
        ~Unstage() { stage_partners_from(0); }
    } unstage;
    constexpr unsigned n = 11;
    const std::vector<Complex> before = awkward_state(std::size_t{1} << n, 71);
    for (const std::uint64_t from : {8, 64}) {
        stage_partners_from(from);
        for (unsigned t = 0; t < n; ++t) {
            for (unsigned p = t + 1; p < n; ++p) {
                const std::uint64_t others =
                    ((std::uint64_t{1} << n) - 1) & ~(1u << t) & ~(1u << p);
                // No control, the lowest other qubit (short runs), the highest, and the two
                // highest (fewer amplitudes than a piece holds).
                const std::uint64_t lowest = others & -others;
                const std::uint64_t highest = std::uint64_t{1} << (std::bit_width(others) - 1);
                const std::uint64_t rest = others & ~highest;
                const std::uint64_t next = std::uint64_t{1} << (std::bit_width(rest) - 1);
                for (const std::uint64_t controls :
                     {std::uint64_t{0}, lowest, highest, highest | next}) {
                    SCOPED_TRACE(::testing::Message() << "staged from " << from << " swap " << t
                                                      << " " << p << " controls " << controls);
                    GateRecord gate{};
                    gate.kind = GateKind::kSwap;
                    gate.target = static_cast<std::uint8_t>(t);
                    gate.partner = static_cast<std::uint8_t>(p);
                    gate.controls = controls;
                    std::vector<Complex> state = before;
                    apply_gate(state, n, gate, active_kernels());
                    const auto where = [&](std::uint64_t i) {
                        return (i & controls) == controls ? exchange(i, t, p) : i;
                    };
                    ASSERT_TRUE(same_state(state, permuted(before, where), testing::Nans::kExact));
                }
            }
        }
    }
}

TEST(PermutationGates, MoveTheRightBasisStates) {
    const auto cnot = [](unsigned a, unsigned t) {
        return [=](QuantumRegister& r) { return r.CNOT(a, t); };
    };
    EXPECT_EQ(where_one_goes(2, 1, cnot(0, 1)), 3u);
    EXPECT_EQ(where_one_goes(2, 0, cnot(0, 1)), 0u);
    EXPECT_EQ(where_one_goes(2, 2, cnot(0, 1)), 2u);
    EXPECT_EQ(where_one_goes(3, 4, cnot(2, 0)), 5u);
    EXPECT_EQ(where_one_goes(3, 7, cnot(2, 0)), 6u);
    EXPECT_EQ(where_one_goes(3, 1, cnot(0, 2)), 5u);
    EXPECT_EQ(where_one_goes(3, 3, cnot(0, 2)), 7u);
    for (const auto& qubits : {std::pair{0u, 1u}, std::pair{1u, 0u}}) {
        const auto swap = [=](QuantumRegister& r) { return r.SWAP(qubits.first, qubits.second); };
        EXPECT_EQ(where_one_goes(2, 1, swap), 2u);
        EXPECT_EQ(where_one_goes(2, 3, swap), 3u);
    }
    const auto ccnot = [](unsigned a, unsigned b, unsigned t) {
        return [=](QuantumRegister& r) { return r.CCNOT(a, b, t); };
    };
    EXPECT_EQ(where_one_goes(3, 3, ccnot(0, 1, 2)), 7u);
    EXPECT_EQ(where_one_goes(3, 5, ccnot(0, 1, 2)), 5u);
    EXPECT_EQ(where_one_goes(3, 6, ccnot(2, 1, 0)), 7u);
    const auto csswap = [](QuantumRegister& r) { return r.CSSWAP(0, 1, 2); };
    EXPECT_EQ(where_one_goes(3, 3, csswap), 5u);
    EXPECT_EQ(where_one_goes(3, 6, csswap), 6u);
}

TEST(PermutationGates, BadQubitsFailWithTheirMessageAndChangeNothing) {
    const std::uint64_t huge = ~std::uint64_t{0};
    for (unsigned n = 0; n <= 4; ++n) {
        QuantumRegister reg(n, kPlentyOfMemory);
        load(reg, awkward_state(reg.dim(), 40 + n));
        const std::vector<Complex> before = snapshot(reg);
        const auto fails = [&](const GateResult& result, const char* message) {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.message(), message);
        };
        for (std::uint64_t q = 0; q <= n; ++q) {
            fails(reg.CNOT(q, q), "...");
            fails(reg.SWAP(q, q), "...");
            fails(reg.CCNOT(q, q, n), "input out of scope.");
            fails(reg.CCNOT(0, q, q), "input out of scope.");
            fails(reg.CSSWAP(q, q + 1, q), "...");
            fails(reg.CSSWAP(q + 1, q, q), "...");
        }
        if (n >= 1) {
            fails(reg.CNOT(0, n), "...");
            fails(reg.CNOT(n, 0), "...");
            fails(reg.SWAP(huge, 0), "...");
        }
        if (n >= 2) {
            fails(reg.CCNOT(0, 1, n), "input out of scope.");
            fails(reg.CCNOT(huge, 0, 1), "input out of scope.");
            fails(reg.CSSWAP(0, n, 1), "...");
            fails(reg.CSSWAP(0, 1, huge), "...");
        }
        EXPECT_TRUE(same_state(reg.state(), before));
    }
}

TEST(PermutationGates, TooFewQubitsForThreeDistinctOnes) {
    QuantumRegister reg(2, kPlentyOfMemory);
    for (unsigned a = 0; a < 2; ++a) {
        for (unsigned b = 0; b < 2; ++b) {
            for (unsigned c = 0; c < 2; ++c) {
                EXPECT_EQ(reg.CCNOT(a, b, c).message(), "input out of scope.");
                EXPECT_EQ(reg.CSSWAP(a, b, c).message(), "...");
            }
        }
    }
    QuantumRegister one(1, kPlentyOfMemory);
    EXPECT_EQ(one.CNOT(0, 1).message(), "...");
    EXPECT_EQ(one.SWAP(0, 1).message(), "...");
}

}  // namespace
}  // namespace qubit
