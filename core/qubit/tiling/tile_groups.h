// The scheduler of the tiled execution: which consecutive gates go through the cache
// together, and which qubits their tiles span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qubit/gates/gate_record.h"
#include "qubit/tiling/tile_shape.h"

namespace qubit {

struct TileGroup {
    std::size_t size;    // how many gates, from the first one given
    std::uint64_t tile;  // the set S of tile qubits: the lowest ones and every moved qubit
};

// The longest run of gates from the start of `gates` (at least one) whose moved qubits
// fit one tile set of an n-qubit register, n > shape.qubits. Gates are never reordered:
// gates on different qubits do not commute bit for bit.
TileGroup next_group(std::span<const GateRecord> gates, unsigned n, TileShape shape);

}  // namespace qubit
