#include "qubit/gates/gate_record.h"

#include <bit>
#include <cstdint>
#include <span>

#include "qubit/gates/bits.h"
#include "qubit/gates/exchange_runs.h"
#include "qubit/gates/fixed_bits.h"
#include "qubit/gates/pair_pass.h"
#include "qubit/parallel/worker_pool.h"
#include "qubit/state/complex.h"

namespace qubit {
namespace {

const FixedBits kWholeState;

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

// A diagonal whose target is fixed among the qubits of `fixed_mask` multiplies every
// amplitude there by the same entry, m00 or m11. The diagonal kernel on any free qubit, with
// that entry twice, does the same product on each of them. The free qubit just below the
// lowest fixed one makes each block of unfixed amplitudes a single pair of runs, as long as
// they come, so the kernel's loop runs on and does not restart every few amplitudes; below
// a vector register's width it would take the in-register shuffles, so then the lowest free
// qubit from that width up. n when every qubit is fixed.
unsigned factor_qubit(std::uint64_t fixed_mask, unsigned n, unsigned vector_log2) {
    const unsigned lowest = static_cast<unsigned>(std::countr_zero(fixed_mask));
    if (lowest > vector_log2) return lowest - 1;
    unsigned free = n;
    for (unsigned q = 0; q < n; ++q) {
        if (((fixed_mask >> q) & 1) != 0) continue;
        free = q;
        if (q >= vector_log2) break;
    }
    return free;
}

// A diagonal restricted to a part where its target is fixed: every amplitude there is
// multiplied by the same entry (restrict_gate put it in m00 and m11).
void apply_one_factor(std::span<Complex> state, unsigned n, const GateRecord& gate,
                      const KernelFamily& family, const FixedBits& outside) {
    const unsigned free = factor_qubit(outside.mask(), n, family.vector_log2);
    if (free == n) {  // every qubit fixed: a single amplitude
        const std::uint64_t index = outside.index(0);
        require_index_below(index, state.size());
        state[index] = mul(gate.matrix.m00, state[index]);
        return;
    }
    apply_pair_op(state, n, outside, 0, free, {PairOp::Kind::kDiagonal, &gate.matrix}, family);
}

}  // namespace

bool restrict_gate(const GateRecord& gate, std::uint64_t fixed_mask, std::uint64_t values,
                   GateRecord& local) {
    if ((gate.controls & fixed_mask & ~values) != 0) return false;
    local = gate;
    local.controls &= ~fixed_mask;
    if (gate.kind == GateKind::kDiagonal && (fixed_mask & bit(gate.target)) != 0) {
        const Complex entry = (values & bit(gate.target)) != 0 ? gate.matrix.m11 : gate.matrix.m00;
        local.matrix = {entry, {}, {}, entry};
    }
    return true;
}

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
            fixed.add_each(gate.controls, ~std::uint64_t{0});  // every control at 1
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

void apply_gate_split(std::span<Complex> state, unsigned n, const GateRecord& gate,
                      const KernelFamily& family, unsigned threads) {
    // Below 2^18 amplitudes (4 MiB) waking a worker costs about what it saves
    // (docs/performance.md, "Threads"). Parts of 2^12 and more keep each one's runs long.
    constexpr unsigned kSplitFrom = 18;
    constexpr unsigned kLeastPartQubits = 12;
    if (threads <= 1 || n < kSplitFrom) return apply_gate(state, n, gate, family);
    // Eight parts a thread, so that a thread slowed by other work holds up little.
    const unsigned wanted = static_cast<unsigned>(std::bit_width(8u * threads - 1));
    const std::uint64_t named = moved_qubits(gate) | gate.controls | bit(gate.target);
    std::uint64_t split = 0;
    unsigned count = 0;
    for (unsigned q = n; q-- > kLeastPartQubits && count < wanted;) {
        if ((named & bit(q)) == 0) {
            split |= bit(q);
            ++count;
        }
    }
    if (count == 0) return apply_gate(state, n, gate, family);
    parallel_for(threads, std::uint64_t{1} << count, [&](std::uint64_t item, unsigned) {
        FixedBits part;
        part.add_each(split, deposit_bits(item, split));
        apply_gate(state, n, gate, family, part);
    });
}

bool place_gate(std::uint64_t state_size, unsigned n, const GateRecord& gate,
                std::uint64_t part_mask, const KernelFamily& family, std::span<std::uint64_t> room,
                PlacedGate& placed) {
    if (gate.kind == GateKind::kSwap) return false;
    placed.gate = &gate;
    placed.part_mask = part_mask;
    if (gate.kind == GateKind::kDiagonal && (part_mask & bit(gate.target)) != 0) {
        // One entry for each part, on a qubit the parts leave free.
        const unsigned free = factor_qubit(part_mask, n, family.vector_log2);
        if (free == n) return false;
        return place_pair_op(state_size, n, part_mask, 0, free, {PairOp::Kind::kDiagonal, nullptr},
                             family, room, placed.pair);
    }
    return place_pair_op(state_size, n, part_mask, gate.controls & ~part_mask, gate.target,
                         pair_op(gate), family, room, placed.pair);
}

void run_placed_gate(std::span<Complex> state, std::uint64_t part_base, const PlacedGate& placed,
                     const KernelFamily& family) {
    GateRecord local;
    if (!restrict_gate(*placed.gate, placed.part_mask, part_base, local)) return;
    PlacedPairOp pair = placed.pair;
    pair.op.m = &local.matrix;
    run_placed(state.data() + part_base, pair, family);
}

}  // namespace qubit
