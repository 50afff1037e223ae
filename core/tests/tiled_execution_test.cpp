// The tiled execution against one gate at a time: tiny forced tiles and sub-tiles, so that
// every grouping, every tile path and every control arrangement runs at a dozen qubits or
// less, compared bit for bit on awkward states and matrices (NaNs, infinities, signed zeros,
// subnormals).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "amplitude_checks.h"
#include "qubit/gates/gate_record.h"
#include "qubit/kernels/kernels.h"
#include "qubit/register/register.h"
#include "qubit/tiling/tiled_executor.h"

namespace qubit {
namespace {

using testing::awkward_state;
using testing::kPlentyOfMemory;
using testing::same_state;

class RandomGates {
public:
    RandomGates(unsigned n, std::uint64_t seed) : n_(n), rng_(seed) {}

    // Any gate of any kind, with controls anywhere, sometimes with awkward entries.
    GateRecord next() {
        GateRecord gate{};
        gate.kind = static_cast<GateKind>(below(5));
        std::uint64_t free = (std::uint64_t{1} << n_) - 1;
        gate.target = take(free);
        if (gate.kind == GateKind::kSwap) {
            gate.partner = take(free);
            if (gate.partner < gate.target) std::swap(gate.partner, gate.target);
        }
        if (gate.kind == GateKind::kMatrix || gate.kind == GateKind::kFlip ||
            gate.kind == GateKind::kSwap) {
            for (unsigned c = below(4); c > 0 && free != 0; --c) gate.controls |= bit(take(free));
        }
        gate.matrix = {entry(), entry(), entry(), entry()};
        return gate;
    }

    unsigned below(unsigned bound) { return static_cast<unsigned>(rng_() % bound); }

private:
    static std::uint64_t bit(unsigned q) { return std::uint64_t{1} << q; }

    std::uint8_t take(std::uint64_t& free) {
        for (;;) {
            const unsigned q = below(n_);
            if ((free & bit(q)) != 0) {
                free &= ~bit(q);
                return static_cast<std::uint8_t>(q);
            }
        }
    }

    double part() {
        constexpr double kSpecials[] = {std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(), -0.0, 0.0,
                                        std::numeric_limits<double>::denorm_min()};
        if (below(16) == 0) return kSpecials[below(5)];
        return std::uniform_real_distribution<double>(-1.0, 1.0)(rng_);
    }
    Complex entry() { return {part(), part()}; }

    unsigned n_;
    std::mt19937_64 rng_;
};

// Every family, every shape; and with partners staged from the top two qubits of the state
// on, so that the tiles holding either are gathered into the buffer and back.
TEST(TiledExecution, SameBitsAsOneGateAtATimeForEveryFamilyAndShape) {
    struct Unstage {
        ~Unstage() { stage_partners_from(0); }
    } unstage;
    const TileShape shapes[] = {{3, 2}, {4, 2}, {5, 3}, {6, 2}, {6, 3, 3, 1}, {7, 3, 5, 2}};
    // The calling thread alone, and threads that share the tiles out in every proportion.
    const unsigned thread_counts[] = {1, 2, 3, 7};
    std::vector<std::unique_ptr<TileWorkspace>> workspaces;
    for (const unsigned threads : thread_counts) {
        workspaces.push_back(std::make_unique<TileWorkspace>(threads));
    }
    for (const KernelFamily* family : supported_kernels()) {
        for (const TileShape shape : shapes) {
            for (unsigned n = shape.qubits + 1; n <= 11; n += 2) {
                for (std::uint64_t seed = 0; seed < 8; ++seed) {
                    const bool gathered = seed % 2 != 0;
                    stage_partners_from(gathered ? std::uint64_t{1} << (n - 2) : 0);
                    SCOPED_TRACE(::testing::Message()
                                 << family->name << " tile 2^" << shape.qubits << " low "
                                 << shape.low_qubits << " sub-tile 2^" << shape.sub_qubits
                                 << " low " << shape.sub_low_qubits << " n " << n << " seed "
                                 << seed << (gathered ? " gathered" : ""));
                    RandomGates random(n, seed * 131 + n);
                    std::vector<GateRecord> gates(40 + random.below(80));
                    for (GateRecord& gate : gates) gate = random.next();
                    std::vector<Complex> one_by_one = awkward_state(std::size_t{1} << n, seed);
                    const std::vector<Complex> start = one_by_one;
                    for (const GateRecord& gate : gates) apply_gate(one_by_one, n, gate, *family);
                    for (const auto& workspace : workspaces) {
                        std::vector<Complex> tiled = start;
                        run_gates(tiled, n, gates, *family, shape, *workspace);
                        ASSERT_TRUE(same_state(tiled, one_by_one, testing::Nans::kExact))
                            << workspace->threads() << " threads";
                    }
                }
            }
        }
    }
}

// A gate applied alone to a state large enough to be split over threads: every kind, with
// controls anywhere, against the same gate on the calling thread.
TEST(TiledExecution, GateSplitOverThreadsLeavesTheSameBits) {
    constexpr unsigned n = 18;
    for (const KernelFamily* family : supported_kernels()) {
        RandomGates random(n, 5);
        std::vector<Complex> one_thread = awkward_state(std::size_t{1} << n, 3);
        std::vector<Complex> split = one_thread;
        for (int i = 0; i < 24; ++i) {
            const GateRecord gate = random.next();
            apply_gate(one_thread, n, gate, *family);
            apply_gate_split(split, n, gate, *family, 2 + static_cast<unsigned>(i % 6));
            ASSERT_TRUE(same_state(split, one_thread, testing::Nans::kExact))
                << family->name << " gate " << i;
        }
    }
}

// Through the register: gates deferred past the list's capacity and read back at random
// points, against a register that applies each gate as it comes. Reads alternate between
// the register's two accessors, since either one must apply the pending gates first.
constexpr unsigned kDeferringQubits = 9;

void defer_and_read(const std::vector<Complex>& start) {
    constexpr unsigned n = kDeferringQubits;
    QuantumRegister deferring(n, kPlentyOfMemory, {4, 2});
    QuantumRegister eager(n, kPlentyOfMemory, {n, 2});
    testing::load(deferring, start);
    testing::load(eager, start);
    std::mt19937_64 rng(11);
    std::array<std::uint64_t, n> qubits;
    std::iota(qubits.begin(), qubits.end(), 0);
    int reads = 0;
    for (int call = 0; call < 1500; ++call) {
        std::shuffle(qubits.begin(), qubits.end(), rng);
        const auto [a, b, c] = std::array{qubits[0], qubits[1], qubits[2]};
        const double theta = static_cast<double>(rng() % 10000) / 997.0;
        const Complex e0{0.6, -0.8}, e1{0.0, 1.0};
        for (QuantumRegister* reg : {&deferring, &eager}) {
            switch (call % 11) {
                case 0:
                    (void)reg->H(a);
                    break;
                case 1:
                    (void)reg->X(a);
                    break;
                case 2:
                    (void)reg->U(a, e0, e1, e1, e0);
                    break;
                case 3:
                    (void)reg->Rx(a, theta);
                    break;
                case 4:
                    (void)reg->Ry(a, theta);
                    break;
                case 5:
                    (void)reg->Rz(a, theta);
                    break;
                case 6:
                    (void)reg->CNOT(a, b);
                    break;
                case 7:
                    (void)reg->SWAP(a, b);
                    break;
                case 8:
                    (void)reg->CCNOT(a, b, c);
                    break;
                case 9:
                    (void)reg->CSSWAP(a, b, c);
                    break;
                default:
                    (void)reg->MCU({b, c}, a, e0, e1, e1, e0);
                    break;
            }
        }
        if (rng() % 200 == 0) {
            const bool read_only = ++reads % 2 == 0;
            ASSERT_TRUE(same_state(read_only ? std::as_const(deferring).state() : deferring.state(),
                                   testing::snapshot(eager), testing::Nans::kExact))
                << "call " << call << (read_only ? " through the const state()" : "");
        }
    }
    ASSERT_TRUE(same_state(std::as_const(deferring).state(), testing::snapshot(eager),
                           testing::Nans::kExact));
    ASSERT_TRUE(same_state(deferring.state(), testing::snapshot(eager), testing::Nans::kExact));
}

TEST(TiledExecution, DeferringRegisterReadsWhatAnEagerOneHolds) {
    const std::size_t dim = std::size_t{1} << kDeferringQubits;
    {
        SCOPED_TRACE("awkward start");
        defer_and_read(awkward_state(dim, 7));
    }
    // Finite amplitudes too: from an awkward start, NaNs reach every amplitude within a few
    // gates, and a read that missed the pending gates would match all the same.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<Complex> finite(dim);
    for (Complex& c : finite) c = {uniform(rng), uniform(rng)};
    SCOPED_TRACE("finite start");
    defer_and_read(finite);
}

}  // namespace
}  // namespace qubit
