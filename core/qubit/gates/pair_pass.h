// The engine of every gate that works on pairs of amplitudes (H, U, Rx, Ry, Rz, MCU, and the
// flips X, CNOT, CCNOT): a one-qubit kernel run over exactly the pairs whose indices hold
// fixed bits, apart from the gates' argument checks so that every kernel family can be run
// through it.
#pragma once

#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"
#include "qubit/kernels/kernels.h"
#include "qubit/register/complex.h"

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

// `m` on `target` where every qubit of `controls` is 1, over the whole state.
void apply_controlled(std::span<Complex> state, unsigned n, std::uint64_t controls, unsigned target,
                      const Matrix2& m, const KernelFamily& family);

}  // namespace qubit
