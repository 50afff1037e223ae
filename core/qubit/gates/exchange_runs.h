// The loop behind the gates that exchange two qubits (SWAP, CSSWAP): no arithmetic, so a
// gate applied twice restores the state bit for bit. The flips (X, CNOT, CCNOT) move pairs
// across one qubit and go through the pair kernels instead (pair_pass.h).
#pragma once

#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"
#include "qubit/state/complex.h"

namespace qubit {

// Exchanges state[x] with state[x + offset] for every index x of `fixed` over a register
// of n qubits. `offset` must move each x to an index outside `fixed`'s set and more than a
// run further on, so that no amplitude is moved twice. Throws FatalError, before anything
// is moved, when the last partner is beyond `state`. `prefetch` asks for memory ahead, as a
// pass over a large state needs and a tile in cache does not (KernelFamily::prefetches).
void exchange_runs(std::span<Complex> state, unsigned n, const FixedBits& fixed,
                   std::uint64_t offset, bool prefetch = true);

}  // namespace qubit
