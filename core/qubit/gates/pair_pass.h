// The engine of every gate that works on pairs of amplitudes (H, U, Rx, Ry, Rz, MCU, and the
// flips X, CNOT, CCNOT): a one-qubit kernel run over exactly the pairs whose indices hold
// fixed bits, apart from the gates' argument checks so that every kernel family can be run
// through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"
#include "qubit/kernels/kernels.h"
#include "qubit/state/complex.h"

namespace qubit {

// Which kernel of a family, and its constants: the matrix, or the diagonal's two entries in
// the matrix's m00 and m11 (a flip has none). The matrix is the caller's and must outlive
// the call.
struct PairOp {
    enum class Kind : std::uint8_t { kHadamard, kDiagonal, kMatrix, kFlip };
    Kind kind;
    const Matrix2* m;
};

// Applies `op` to qubit `target` within the basis states of an n-qubit `state` whose
// qubits in `fixed` hold the values given there and whose qubits in the mask `controls`
// are 1. Neither may contain `target`, and every position must be below n; controls only
// go with the matrix and flip kinds. Throws FatalError, before anything is written, when
// `state` is shorter than 2^n.
void apply_pair_op(std::span<Complex> state, unsigned n, const FixedBits& fixed,
                   std::uint64_t controls, unsigned target, const PairOp& op,
                   const KernelFamily& family);

// `op` on `target` over the whole state, with no control: one block for the kernel, the
// short way that small registers take for most of their gates.
void apply_pair_op(std::span<Complex> state, unsigned n, unsigned target, const PairOp& op,
                   const KernelFamily& family);

// A pair op laid out once for many parts of the state: the parts are the sets of basis
// states whose qubits in a mask hold given values, and the starts of its blocks or runs
// are relative to a part's base, the index with those values and every other bit 0. So a
// run of gates visiting part after part works out its places once.
struct PlacedPairOp {
    PairOp op;
    unsigned slots;
    bool runs;  // runs of `extent` pairs, partners `half` above; else blocks of `extent`
    unsigned target;
    std::uint64_t extent;
    std::uint64_t half;
    const std::uint64_t* starts;  // in the room given to place_pair_op
    std::size_t count;
};

// Lays out `op` on `target` (not in `part_mask`) where every qubit of `controls` (none in
// `part_mask`) is 1, for the parts of an n-qubit state of `state_size` amplitudes that
// `part_mask` sets apart, its starts written to `room`. Returns false when they do not fit
// there. Throws FatalError when some part would reach past the state.
bool place_pair_op(std::uint64_t state_size, unsigned n, std::uint64_t part_mask,
                   std::uint64_t controls, unsigned target, const PairOp& op,
                   const KernelFamily& family, std::span<std::uint64_t> room, PlacedPairOp& placed);

// The placed op on the part whose base is at `part_base`: the same pairs, through the same
// kernels, as apply_pair_op with the part's qubits fixed.
void run_placed(Complex* part_base, const PlacedPairOp& placed, const KernelFamily& family);

}  // namespace qubit
