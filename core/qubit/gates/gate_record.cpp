#include "qubit/gates/gate_record.h"

#include <bit>
#include <cstdint>
#include <span>

#include "qubit/gates/exchange_runs.h"
#include "qubit/gates/fixed_bits.h"
#include "qubit/gates/pair_pass.h"
#include "qubit/register/complex.h"

namespace qubit {
namespace {

const FixedBits kWholeState;

constexpr std::uint64_t bit(unsigned position) { return std::uint64_t{1} << position; }

void fix_controls(FixedBits& fixed, std::uint64_t controls) {
    for (; controls != 0; controls &= controls - 1) {
        fixed.add(static_cast<unsigned>(std::countr_zero(controls)), 1);
    }
}

// The kernel of a gate that works on pairs (H, Rz, a matrix or a flip), with the record's
// matrix; Rz keeps its diagonal in m00 and m11.
PairOp pair_op(const GateRecord& gate) {
    switch (gate.kind) {
        case GateKind::kHadamard:
            return {PairOp::Kind::kHadamard, &gate.matrix};
        case GateKind::kDiagonal:
            return {PairOp::Kind::kDiagonal, &gate.matrix};
        case GateKind::kFlip:
            return {PairOp::Kind::kFlip, &gate.matrix};
        default:
            return {PairOp::Kind::kMatrix, &gate.matrix};
    }
}

// A diagonal whose target is fixed in `outside` multiplies every amplitude there by the
// same entry, m00 or m11. The diagonal kernel on any free qubit, with that entry twice, does
// the same product on each of them. The free qubit just below the lowest fixed one makes
// each block of unfixed amplitudes a single pair of runs, as long as they come, so the
// kernel's loop runs on and does not restart every few amplitudes; below a vector
// register's width it would take the in-register shuffles, so then the lowest free qubit
// from that width up.
void apply_one_factor(std::span<Complex> state, unsigned n, const GateRecord& gate,
                      const KernelFamily& family, const FixedBits& outside) {
    const Complex entry = outside.value(gate.target) != 0 ? gate.matrix.m11 : gate.matrix.m00;
    const Matrix2 both{entry, {}, {}, entry};
    unsigned free = n;
    if (outside.lowest() > family.vector_log2) {
        free = outside.lowest() - 1;
    } else {
        for (unsigned q = 0; q < n; ++q) {
            if (outside.holds(q)) continue;
            free = q;
            if (q >= family.vector_log2) break;
        }
    }
    if (free == n) {  // every qubit fixed: a single amplitude
        const std::uint64_t index = outside.index(0);
        require_index_below(index, state.size());
        state[index] = mul(entry, state[index]);
        return;
    }
    apply_pair_op(state, n, outside, 0, free, {PairOp::Kind::kDiagonal, &both}, family);
}

}  // namespace

std::uint64_t moved_qubits(const GateRecord& gate) {
    switch (gate.kind) {
        case GateKind::kDiagonal:
            return 0;
        case GateKind::kSwap:
            return bit(gate.target) | bit(gate.partner);
        default:
            return bit(gate.target);
    }
}

void apply_gate(std::span<Complex> state, unsigned n, const GateRecord& gate,
                const KernelFamily& family, const FixedBits& outside) {
    const unsigned target = gate.target;
    if (gate.kind == GateKind::kDiagonal && outside.holds(target)) {
        return apply_one_factor(state, n, gate, family, outside);
    }
    switch (gate.kind) {
        case GateKind::kHadamard:
        case GateKind::kDiagonal:
        case GateKind::kMatrix:
        case GateKind::kFlip:
            return apply_pair_op(state, n, outside, gate.controls, target, pair_op(gate), family);
        case GateKind::kSwap: {
            // From (target, partner) = (1, 0) to (0, 1), always forward.
            FixedBits fixed = outside;
            fix_controls(fixed, gate.controls);
            fixed.add(target, 1);
            fixed.add(gate.partner, 0);
            return exchange_runs(state, n, fixed, bit(gate.partner) - bit(target),
                                 family.prefetches);
        }
    }
}

void apply_gate(std::span<Complex> state, unsigned n, const GateRecord& gate,
                const KernelFamily& family) {
    // Small registers make many calls with no control: they go straight to the kernel.
    if (gate.kind != GateKind::kSwap && gate.controls == 0)
        return apply_pair_op(state, n, gate.target, pair_op(gate), family);
    apply_gate(state, n, gate, family, kWholeState);
}

}  // namespace qubit
