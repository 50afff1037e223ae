// The executor of the tiled execution: gates in call order, each group of them applied
// tile by tile while the tile sits in cache.
#pragma once

#include <cstdint>
#include <span>

#include "qubit/gates/gate_record.h"
#include "qubit/kernels/kernels.h"
#include "qubit/state/complex.h"
#include "qubit/tiling/tile_scratch.h"
#include "qubit/tiling/tile_shape.h"

namespace qubit {

// Applies `gates`, in order, to an n-qubit `state` of 2^n amplitudes. The result is the
// same, bit for bit, as applying them one at a time to the whole state: within a group
// every pair of amplitudes goes through the same kernel arithmetic, only the order in which
// disjoint tiles are visited changes. The tiles of a group, and the parts of a gate applied
// alone, are shared out over the workspace's threads (one thread: the calling one alone).
// Allocates nothing: `workspace` is its working memory.
void run_gates(std::span<Complex> state, unsigned n, std::span<const GateRecord> gates,
               const KernelFamily& family, TileShape shape, const TileWorkspace& workspace);

// One group of gates whose moved qubits all lie in the set `tile` (a mask with at least
// the lowest qubit), applied tile by tile. Controls outside the set choose whole tiles, and
// a diagonal whose target is outside it multiplies a whole tile by one of its entries.
// Within a tile, gates go through the shape's sub-tiles where they fit them; a tile whose
// runs lie too far apart for the first-level cache takes them on a contiguous copy of itself
// (gathered_tile.h).
void run_group_tiled(std::span<Complex> state, unsigned n, std::span<const GateRecord> group,
                     std::uint64_t tile, const KernelFamily& family, TileShape shape,
                     const TileWorkspace& workspace);

}  // namespace qubit
