// How large a tile is: the piece of the state that takes a run of gates while it sits in
// the processor's cache.
#pragma once

#include <cstdint>

namespace qubit {

struct TileShape {
    unsigned qubits;      // a tile holds 2^qubits amplitudes
    unsigned low_qubits;  // qubits 0 .. low_qubits - 1 are in every tile, so that a tile is
                          // made of contiguous runs of at least 2^low_qubits amplitudes
};

// The shape for a cache of `cache_bytes`: a tile fills half of it, the rest is left for
// what the kernels and the interpreter touch meanwhile.
TileShape tile_shape_for(std::uint64_t cache_bytes);

// The shape for this machine's per-core (L2) cache, asked of the system once; 256 KiB when
// the system does not say. ZELVANIC_TILE_QUBITS in the environment, read each time, sets
// the tile's qubits instead (a value too small to hold a gate is ignored).
TileShape machine_tile_shape();

}  // namespace qubit
