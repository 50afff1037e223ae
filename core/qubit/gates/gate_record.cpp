#include "qubit/gates/gate_record.h"

#include <bit>
#include <cstdint>
#include <span>

#include "qubit/gates/exchange_runs.h"
#include "qubit/gates/fixed_bits.h"
#include "qubit/gates/pair_pass.h"

namespace qubit {
namespace {

const FixedBits kWholeState;

constexpr std::uint64_t bit(unsigned position) { return std::uint64_t{1} << position; }

void fix_controls(FixedBits& fixed, std::uint64_t controls) {
    for (; controls != 0; controls &= controls - 1) {
        fixed.add(static_cast<unsigned>(std::countr_zero(controls)), 1);
    }
}

}  // namespace

std::uint64_t moved_qubits(const GateRecord& gate) {
    const std::uint64_t moved = bit(gate.target);
    return gate.kind == GateKind::kSwap ? moved | bit(gate.partner) : moved;
}

void apply_gate(std::span<Complex> state, unsigned n, const GateRecord& gate,
                const KernelFamily& family, const FixedBits& outside) {
    const unsigned target = gate.target;
    switch (gate.kind) {
        case GateKind::kHadamard:
            return apply_pair_op(state, n, outside, 0, target,
                                 {PairOp::Kind::kHadamard, &gate.matrix}, family);
        case GateKind::kDiagonal:
            return apply_pair_op(state, n, outside, 0, target,
                                 {PairOp::Kind::kDiagonal, &gate.matrix}, family);
        case GateKind::kMatrix:
            return apply_pair_op(state, n, outside, gate.controls, target,
                                 {PairOp::Kind::kMatrix, &gate.matrix}, family);
        case GateKind::kFlip: {
            FixedBits fixed = outside;
            fix_controls(fixed, gate.controls);
            fixed.add(target, 0);
            return exchange_runs(state, n, fixed, bit(target), family.prefetches);
        }
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
    // With no control, the whole state is one block for the kernel. Small registers make
    // many such calls, so they go straight to it.
    const std::uint64_t size = std::uint64_t{1} << n;
    if (gate.controls == 0 && state.size() >= size) {
        const std::uint64_t whole[1] = {0};
        const Matrix2& m = gate.matrix;
        switch (gate.kind) {
            case GateKind::kHadamard:
                return family.hadamard_blocks(state.data(), whole, 1, size, gate.target);
            case GateKind::kDiagonal:
                return family.diagonal_blocks(state.data(), whole, 1, size, gate.target,
                                              {m.m00, m.m11});
            case GateKind::kMatrix:
                return family.matrix_blocks(state.data(), whole, 1, size, gate.target, m,
                                            kAllSlots);
            case GateKind::kFlip:
            case GateKind::kSwap:
                break;
        }
    }
    apply_gate(state, n, gate, family, kWholeState);
}

}  // namespace qubit
