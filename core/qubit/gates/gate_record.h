// One gate as data: what a gate method has checked and will apply, now or later. Every
// gate of the register is one of five shapes, and a record holds any of them in a fixed
// size, so that a register can keep a bounded list of gates still to be applied.
#pragma once

#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"
#include "qubit/gates/pair_pass.h"
#include "qubit/kernels/kernels.h"
#include "qubit/state/complex.h"

namespace qubit {

enum class GateKind : std::uint8_t {
    kHadamard,  // H on `target`
    kMatrix,    // `matrix` on `target` where every qubit of `controls` is 1 (U, Rx, Ry, MCU)
    kDiagonal,  // diag(matrix.m00, matrix.m11) on `target` (Rz)
    kFlip,      // NOT on `target` where every control is 1 (X, CNOT, CCNOT)
    kSwap,      // exchanges `target` and `partner` where every control is 1 (SWAP, CSSWAP)
};

struct GateRecord {
    GateKind kind;
    std::uint8_t target;     // kSwap: the lower of the two qubits
    std::uint8_t partner;    // kSwap: the higher one; unused otherwise
    std::uint64_t controls;  // a register has at most 58 qubits, so a mask holds them all
    Matrix2 matrix;          // kMatrix and kDiagonal
};

// The qubits whose pairs of amplitudes the gate combines: its target, and a swap's
// partner. Controls only choose which pairs, so they are not among them; nor is a diagonal's
// target, since a diagonal multiplies each amplitude on its own.
std::uint64_t moved_qubits(const GateRecord& gate);

// `gate` on the part of the state where the qubits of `fixed_mask` hold their bits of
// `values`. False when a control there holds 0: the gate leaves that part as it is.
// Otherwise `local` is the gate for the part alone: its controls there, which hold 1, are
// dropped, and a diagonal whose target is there multiplies the whole part by one entry,
// which `local` holds twice (m00 = m11), so that it gives the same product whichever qubit
// carries it. The one rule by which the tiles, their parts and gathered copies restrict
// their gates.
bool restrict_gate(const GateRecord& gate, std::uint64_t fixed_mask, std::uint64_t values,
                   GateRecord& local);

// Applies `gate`, restricted to `outside` (restrict_gate), to the basis states of an n-qubit
// `state` whose qubits in `outside` hold the values given there, and to all of them when
// `outside` is empty. The gate's moved qubits must not be in `outside`. Allocates nothing;
// the results do not depend on `outside`: every pair goes through the same arithmetic as
// when the whole state is done at once.
void apply_gate(std::span<Complex> state, unsigned n, const GateRecord& gate,
                const KernelFamily& family, const FixedBits& outside);
// The same over the whole state.
void apply_gate(std::span<Complex> state, unsigned n, const GateRecord& gate,
                const KernelFamily& family);
// The same on up to `threads` threads: the state is split into parts by its highest qubits
// that the gate does not name, and each part takes the gate with those qubits fixed, as
// above, so every pair goes through the same arithmetic. A state too small to gain from
// threads stays on the calling thread.
void apply_gate_split(std::span<Complex> state, unsigned n, const GateRecord& gate,
                      const KernelFamily& family, unsigned threads);

// A gate laid out once for the parts of the state that the qubits of a mask set apart (see
// PlacedPairOp), for a run of gates that visits part after part. Each part restricts the
// gate (restrict_gate) before it runs the layout.
struct PlacedGate {
    PlacedPairOp pair;
    const GateRecord* gate;  // the caller's, alive while the parts are visited
    std::uint64_t part_mask;
};

// Lays `gate` out for the parts of an n-qubit state of `state_size` amplitudes that
// `part_mask` sets apart, its starts written to `room`; its moved qubits must be outside the
// mask, and `gate` must outlive `placed`. Returns false when it cannot be: a swap, or more starts
// than `room` holds. Throws FatalError when some part would reach past the state.
bool place_gate(std::uint64_t state_size, unsigned n, const GateRecord& gate,
                std::uint64_t part_mask, const KernelFamily& family, std::span<std::uint64_t> room,
                PlacedGate& placed);

// The placed gate on the part whose base (its qubits' values, every other bit 0) is
// `part_base`: the same result as apply_gate with those qubits fixed to those values.
void run_placed_gate(std::span<Complex> state, std::uint64_t part_base, const PlacedGate& placed,
                     const KernelFamily& family);

}  // namespace qubit
