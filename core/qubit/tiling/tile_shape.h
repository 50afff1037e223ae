// How large a tile is: the piece of the state that takes a run of gates while it sits in
// the processor's cache.
#pragma once

#include <cstdint>

#include "qubit/state/env_setting.h"

namespace qubit {

struct TileShape {
    unsigned qubits;      // a tile holds 2^qubits amplitudes
    unsigned low_qubits;  // qubits 0 .. low_qubits - 1 are in every tile, so that a tile is
                          // made of contiguous runs of at least 2^low_qubits amplitudes
    // Within a tile, a run of gates whose moved qubits fit a smaller set goes through the
    // first-level cache the same way, sub-tile by sub-tile: 2^sub_qubits amplitudes that
    // hold the tile's lowest sub_low_qubits qubits. 0: no sub-tiles.
    unsigned sub_qubits = 0;
    unsigned sub_low_qubits = 0;
};

// The shape for a per-core cache of `cache_bytes` and a first-level data cache of
// `l1_bytes`: a tile fills half of the first and a sub-tile at most three quarters of the
// second, the rest is left for what the kernels and the interpreter touch meanwhile.
TileShape tile_shape_for(std::uint64_t cache_bytes, std::uint64_t l1_bytes);

// The shape for this machine's caches, asked of the system once; 256 KiB and 32 KiB when
// the system does not say. ZELVANIC_TILE_QUBITS in the environment, read each time, sets
// the tile's qubits instead: a whole number of at least `least_qubits` (one gate must fit a
// tile); a larger one than a register's n makes it apply each gate at once. Any other value
// is refused and the machine's shape kept; `setting` says so, for the caller to report.
struct TileChoice {
    TileShape shape;
    CountSetting setting;
    unsigned least_qubits;
};
TileChoice machine_tile_choice();
TileShape machine_tile_shape();  // machine_tile_choice().shape

}  // namespace qubit
