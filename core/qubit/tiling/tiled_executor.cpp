#include "qubit/tiling/tiled_executor.h"

#include <bit>
#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"
#include "qubit/tiling/tile_groups.h"

namespace qubit {
namespace {

// The next value of the qubits in `mask` after `values` (a subset of it): the counter plus
// one with the carry passed over the other bits; 0 after the last.
std::uint64_t next_value(std::uint64_t values, std::uint64_t mask) {
    return ((values | ~mask) + 1) & mask;
}

// `gates` on the basis states whose qubits in `fixed_mask` hold `values`. A control fixed
// at 0 there leaves the gate out; one fixed at 1 is met everywhere.
void apply_to_part(std::span<Complex> state, unsigned n, std::span<const GateRecord> gates,
                   std::uint64_t fixed_mask, std::uint64_t values, const KernelFamily& family) {
    FixedBits fixed;
    for (std::uint64_t rest = fixed_mask; rest != 0; rest &= rest - 1) {
        const unsigned q = static_cast<unsigned>(std::countr_zero(rest));
        fixed.add(q, (values >> q) & 1);
    }
    for (const GateRecord& gate : gates) {
        if ((gate.controls & fixed_mask & ~values) != 0) continue;
        GateRecord local = gate;
        local.controls &= ~fixed_mask;
        apply_gate(state, n, local, family, fixed);
    }
}

// One tile's share of a group: where the shape has sub-tiles, each run of gates that fits
// one goes through them in turn, in call order.
void apply_to_tile(std::span<Complex> state, unsigned n, std::span<const GateRecord> group,
                   std::uint64_t tile, std::uint64_t outside, std::uint64_t values,
                   const KernelFamily& family, TileShape shape) {
    if (shape.sub_qubits == 0 || shape.sub_qubits >= static_cast<unsigned>(std::popcount(tile))) {
        return apply_to_part(state, n, group, outside, values, family);
    }
    while (!group.empty()) {
        const TileGroup run = next_group(group, tile, shape.sub_qubits, shape.sub_low_qubits);
        const std::span<const GateRecord> gates = group.first(run.size);
        if (run.size == 1) {  // alone, a gate gains nothing from sub-tiles
            apply_to_part(state, n, gates, outside, values, family);
        } else {
            const std::uint64_t inner = tile & ~run.tile;  // fixed within each sub-tile
            std::uint64_t inner_values = 0;
            do {
                apply_to_part(state, n, gates, outside | inner, values | inner_values, family);
                inner_values = next_value(inner_values, inner);
            } while (inner_values != 0);
        }
        group = group.subspan(run.size);
    }
}

}  // namespace

void run_group_tiled(std::span<Complex> state, unsigned n, std::span<const GateRecord> group,
                     std::uint64_t tile, const KernelFamily& family, TileShape shape) {
    const std::uint64_t outside = ((std::uint64_t{1} << n) - 1) & ~tile;
    // A tile is in cache: prefetching past its runs would only fetch what it does not need.
    const KernelFamily& in_cache = *family.in_cache;
    std::uint64_t values = 0;  // the qubits outside the set, as a subset of `outside`
    do {
        apply_to_tile(state, n, group, tile, outside, values, in_cache, shape);
        values = next_value(values, outside);
    } while (values != 0);
}

void run_gates(std::span<Complex> state, unsigned n, std::span<const GateRecord> gates,
               const KernelFamily& family, TileShape shape) {
    if (n <= shape.qubits) {  // the whole state is one tile
        const KernelFamily& kernels = n <= shape.cached_qubits ? *family.in_cache : family;
        for (const GateRecord& gate : gates) apply_gate(state, n, gate, kernels);
        return;
    }
    const std::uint64_t all = (std::uint64_t{1} << n) - 1;
    while (!gates.empty()) {
        const TileGroup group = next_group(gates, all, shape.qubits, shape.low_qubits);
        if (group.size == 1) {
            // Alone, a gate gains nothing from tiles: one pass over the whole state.
            apply_gate(state, n, gates.front(), family);
        } else {
            run_group_tiled(state, n, gates.first(group.size), group.tile, family, shape);
        }
        gates = gates.subspan(group.size);
    }
}

}  // namespace qubit
