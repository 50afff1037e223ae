// A tile copied into one contiguous buffer, for tiles whose runs lie so far apart that the
// processor's first-level cache cannot hold them side by side (kernel_batches.h says why).
// Its gates then work on the copy as on a register of the tile's qubits; the pairs and their
// arithmetic are the same, so are the bits.
#pragma once

#include <cstdint>
#include <span>

#include "qubit/gates/gate_record.h"
#include "qubit/state/complex.h"
#include "qubit/tiling/tile_scratch.h"

namespace qubit {

// Whether the tile of the qubits in `tile` (a mask with its lowest qubit set) is better
// gathered: it holds runs staged_partner_half() amplitudes apart or further, and it fits.
bool gathers(std::uint64_t tile);

// Copies the tile of an n-qubit `state` whose qubits outside `tile` hold `values` (a subset
// of them) into `buffer`, amplitude i of the buffer being the i-th of the tile in index
// order; and back.
void gather_tile(std::span<const Complex> state, unsigned n, std::uint64_t tile,
                 std::uint64_t values, std::span<Complex> buffer);
void scatter_tile(std::span<const Complex> buffer, unsigned n, std::uint64_t tile,
                  std::uint64_t values, std::span<Complex> state);

// `gate` of a group whose moved qubits lie in `tile`, for the gathered tile where the qubits
// outside hold `values`: restricted to that tile (restrict_gate) and written to `local` with
// every place renumbered as in the buffer (the k-th qubit of the tile becomes qubit k); a
// diagonal on a qubit outside, now one factor for the whole tile, goes on the tile's top
// qubit, whose runs are the longest. False when a control outside holds 0: the gate leaves
// this tile as it is.
bool gate_in_tile(const GateRecord& gate, std::uint64_t tile, std::uint64_t values,
                  GateRecord& local);

}  // namespace qubit
