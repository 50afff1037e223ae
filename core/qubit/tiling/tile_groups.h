// The scheduler of the tiled execution: which consecutive gates go through the cache
// together, and which qubits their tiles span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qubit/gates/gate_record.h"

namespace qubit {

struct TileGroup {
    std::size_t size;    // how many gates, from the first one given
    std::uint64_t tile;  // the set of tile qubits: the lowest ones and every moved qubit
};

// The longest run of gates from the start of `gates` (at least one) whose moved qubits fit
// one set of `qubits` qubits drawn from `within` (a mask of more than `qubits` qubits, every
// moved one among them) that holds the lowest `low_qubits` of them: tiles of a register,
// `within` all of its qubits, or sub-tiles of a tile, `within` the tile's set. Gates are
// never reordered: gates on different qubits do not commute bit for bit.
TileGroup next_group(std::span<const GateRecord> gates, std::uint64_t within, unsigned qubits,
                     unsigned low_qubits);

}  // namespace qubit
