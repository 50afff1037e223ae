// The engine of the multi-controlled gate, apart from its argument checks so that every
// kernel family can be run through it.
#pragma once

#include <cstdint>
#include <span>

#include "qubit/complex.h"
#include "qubit/kernels.h"

namespace qubit {

// Applies `m` to qubit `target` within the basis states of an n-qubit `state` where every
// qubit in the mask `controls` is 1. `controls` must not contain `target`, and every
// position must be below n. Throws FatalError, before anything is written, when `state`
// is shorter than 2^n.
void apply_controlled(std::span<Complex> state, unsigned n, std::uint64_t controls, unsigned target,
                      const Matrix2& m, const KernelFamily& family);

}  // namespace qubit
