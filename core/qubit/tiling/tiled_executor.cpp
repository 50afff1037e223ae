#include "qubit/tiling/tiled_executor.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "qubit/gates/bits.h"
#include "qubit/gates/fixed_bits.h"
#include "qubit/parallel/worker_pool.h"
#include "qubit/tiling/gathered_tile.h"
#include "qubit/tiling/tile_groups.h"

namespace qubit {
namespace {

// `gate` on the basis states whose qubits in `fixed` hold their values there, with its
// places worked out for this part alone.
void apply_to_part(std::span<Complex> state, unsigned n, const GateRecord& gate,
                   const FixedBits& fixed, const KernelFamily& family) {
    GateRecord local;
    if (restrict_gate(gate, fixed.mask(), fixed.ones(), local)) {
        apply_gate(state, n, local, family, fixed);
    }
}

// `gates` on the parts of the state that `part_mask` sets apart: those whose qubits there
// hold `values` off `varying` (a subset of the mask) and any values on it, part after part.
// The gates go in chunks: each is laid out once for all the parts, and every part takes the
// whole chunk in call order before the next part. A gate that cannot be laid out (a swap,
// or more places than the room holds) works out its places part by part.
void apply_to_parts(std::span<Complex> state, unsigned n, std::span<const GateRecord> gates,
                    std::uint64_t part_mask, std::uint64_t values, std::uint64_t varying,
                    const KernelFamily& family, TileScratch& scratch) {
    constexpr std::size_t kChunk = TileScratch::kChunk;
    PlacedGate* const placed = scratch.placed;
    bool* const laid_out = scratch.laid_out;
    const std::span<std::uint64_t> room(scratch.room);
    while (!gates.empty()) {
        std::size_t size = 0;
        std::size_t used = 0;
        bool any_old_way = false;
        for (; size < kChunk && size < gates.size(); ++size) {
            const GateRecord& gate = gates[size];
            const bool fits = place_gate(state.size(), n, gate, part_mask, family,
                                         room.subspan(used), placed[size]);
            if (!fits && used != 0 && gate.kind != GateKind::kSwap) break;  // the next chunk
            laid_out[size] = fits;
            used += fits ? placed[size].pair.count : 0;
            any_old_way |= !fits;
        }
        std::uint64_t part = 0;
        do {
            const std::uint64_t base = values | part;
            FixedBits fixed;
            if (any_old_way) fixed.add_each(part_mask, base);
            for (std::size_t i = 0; i < size; ++i) {
                if (laid_out[i]) {
                    run_placed_gate(state, base, placed[i], family);
                } else {
                    apply_to_part(state, n, gates[i], fixed, family);
                }
            }
            part = next_value(part, varying);
        } while (part != 0);
        gates = gates.subspan(size);
    }
}

// One tile's share of a group: where the shape has sub-tiles, each run of gates that fits
// one goes through them in turn, in call order.
void apply_to_tile(std::span<Complex> state, unsigned n, std::span<const GateRecord> group,
                   std::uint64_t tile, std::uint64_t outside, std::uint64_t values,
                   const KernelFamily& family, TileShape shape, TileScratch& scratch) {
    if (shape.sub_qubits == 0 || shape.sub_qubits >= static_cast<unsigned>(std::popcount(tile))) {
        return apply_to_parts(state, n, group, outside, values, 0, family, scratch);
    }
    while (!group.empty()) {
        const TileGroup run = next_group(group, tile, shape.sub_qubits, shape.sub_low_qubits);
        const std::span<const GateRecord> gates = group.first(run.size);
        // Alone, a gate gains nothing from sub-tiles.
        const std::uint64_t inner = run.size == 1 ? 0 : tile & ~run.tile;
        apply_to_parts(state, n, gates, outside | inner, values, inner, family, scratch);
        group = group.subspan(run.size);
    }
}

// A group on one gathered tile (gathered_tile.h), the one whose qubits outside hold
// `values`: the tile is copied into the scratch's buffer, takes the group's gates, a chunk at
// a time and renumbered, as a register of its own qubits would, and is copied back.
void run_group_gathered(std::span<Complex> state, unsigned n, std::span<const GateRecord> group,
                        std::uint64_t tile, std::uint64_t values, const KernelFamily& family,
                        TileShape shape, TileScratch& scratch) {
    constexpr std::size_t kChunk = TileScratch::kGatheredChunk;
    const unsigned qubits = static_cast<unsigned>(std::popcount(tile));
    const std::span<Complex> buffer(scratch.gathered, std::size_t{1} << qubits);
    const std::uint64_t whole = buffer.size() - 1;
    GateRecord* const local = scratch.renumbered;
    gather_tile(state, n, tile, values, buffer);
    for (std::size_t first = 0; first < group.size(); first += kChunk) {
        std::size_t count = 0;
        for (const GateRecord& gate :
             group.subspan(first, std::min(kChunk, group.size() - first))) {
            if (gate_in_tile(gate, tile, values, local[count])) ++count;
        }
        apply_to_tile(buffer, qubits, std::span(local, count), whole, 0, 0, family, shape, scratch);
    }
    scatter_tile(buffer, n, tile, values, state);
}

}  // namespace

void run_group_tiled(std::span<Complex> state, unsigned n, std::span<const GateRecord> group,
                     std::uint64_t tile, const KernelFamily& family, TileShape shape,
                     const TileWorkspace& workspace) {
    const std::uint64_t outside = ((std::uint64_t{1} << n) - 1) & ~tile;
    // A tile is in cache: prefetching past its runs would only fetch what it does not need.
    const KernelFamily& unfetched = *family.without_prefetch;
    const bool gathered = gathers(tile);
    // The tiles are disjoint: whichever thread takes one, and in whatever order, each of its
    // amplitudes goes through the same gates in the same order.
    parallel_for(
        workspace.threads(), std::uint64_t{1} << std::popcount(outside),
        [&](std::uint64_t item, unsigned participant) {
            const std::uint64_t values = deposit_bits(item, outside);
            TileScratch& scratch = workspace.of(participant);
            if (gathered) {
                run_group_gathered(state, n, group, tile, values, unfetched, shape, scratch);
            } else {
                apply_to_tile(state, n, group, tile, outside, values, unfetched, shape, scratch);
            }
        });
}

void run_gates(std::span<Complex> state, unsigned n, std::span<const GateRecord> gates,
               const KernelFamily& family, TileShape shape, const TileWorkspace& workspace) {
    const std::uint64_t all = (std::uint64_t{1} << n) - 1;
    while (!gates.empty()) {
        const TileGroup group = next_group(gates, all, shape.qubits, shape.low_qubits);
        if (group.size == 1) {
            // Alone, a gate gains nothing from tiles: one pass over the whole state.
            apply_gate_split(state, n, gates.front(), family, workspace.threads());
        } else {
            run_group_tiled(state, n, gates.first(group.size), group.tile, family, shape,
                            workspace);
        }
        gates = gates.subspan(group.size);
    }
}

}  // namespace qubit
