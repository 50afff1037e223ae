#include "qubit/tiling/tiled_executor.h"

#include <bit>
#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"
#include "qubit/tiling/tile_groups.h"

namespace qubit {

void run_group_tiled(std::span<Complex> state, unsigned n, std::span<const GateRecord> group,
                     std::uint64_t tile, const KernelFamily& family) {
    const std::uint64_t outside = ((std::uint64_t{1} << n) - 1) & ~tile;
    // A tile is in cache: prefetching past its runs would only fetch what it does not need.
    const KernelFamily& in_cache = *family.in_cache;
    // Every value of the qubits outside the set, as a subset of `outside`: the next one is
    // the counter plus one with the carry passed over the other bits.
    std::uint64_t values = 0;
    do {
        FixedBits fixed;
        for (std::uint64_t rest = outside; rest != 0; rest &= rest - 1) {
            const unsigned q = static_cast<unsigned>(std::countr_zero(rest));
            fixed.add(q, (values >> q) & 1);
        }
        for (const GateRecord& gate : group) {
            const std::uint64_t controls_outside = gate.controls & outside;
            if ((controls_outside & ~values) != 0) continue;  // a control is 0 on this tile
            GateRecord local = gate;
            local.controls &= ~outside;
            apply_gate(state, n, local, in_cache, fixed);
        }
        values = ((values | ~outside) + 1) & outside;
    } while (values != 0);
}

void run_gates(std::span<Complex> state, unsigned n, std::span<const GateRecord> gates,
               const KernelFamily& family, TileShape shape) {
    if (n <= shape.qubits) {  // the whole state is one tile
        for (const GateRecord& gate : gates) apply_gate(state, n, gate, family);
        return;
    }
    while (!gates.empty()) {
        const TileGroup group = next_group(gates, n, shape);
        if (group.size == 1) {
            // Alone, a gate gains nothing from tiles: one pass over the whole state.
            apply_gate(state, n, gates.front(), family);
        } else {
            run_group_tiled(state, n, gates.first(group.size), group.tile, family);
        }
        gates = gates.subspan(group.size);
    }
}

}  // namespace qubit
