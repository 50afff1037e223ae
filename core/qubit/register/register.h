// The register of n qubits, the core's façade: its state vector (one complex amplitude for
// each of the 2^n basis states, state/), the gates (gates/, tiling/) and the measurements
// (measure/) meet here and nowhere below. Qubit k is bit k of a basis index (qubit 0 is the
// least significant bit).
//
// A register larger than a tile keeps the gates it is given in a bounded list and applies
// them in groups, tile by tile (tiling/), when the list fills or before anything reads the
// amplitudes; a smaller one applies each gate at once. Either way every amplitude read is
// the one that applying the gates one at a time gives, to the last bit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "qubit/gates/gate_record.h"
#include "qubit/gates/gate_requests.h"
#include "qubit/state/amplitudes.h"
#include "qubit/state/complex.h"
#include "qubit/state/dirac_ket.h"
#include "qubit/state/qubit_limits.h"
#include "qubit/state/result.h"
#include "qubit/tiling/pending_gates.h"
#include "qubit/tiling/tile_scratch.h"
#include "qubit/tiling/tile_shape.h"

namespace qubit {

class QuantumRegister;
using GateResult = Result<std::reference_wrapper<QuantumRegister>>;
using Qubits = std::vector<std::uint64_t>;

class QuantumRegister {
public:
    // |0...0> of n qubits, after checking the operating system's available memory.
    // Throws FatalError: the memory-guard text, or "capacity overflow".
    explicit QuantumRegister(std::uint64_t n);
    // The same with the available-memory figure given instead of read, the tiles' shape
    // given instead of taken from the machine's cache, and the threads its work may spread
    // over (1: the calling thread alone; more start the worker pool now).
    QuantumRegister(std::uint64_t n, std::uint64_t available_bytes,
                    TileShape tiles = machine_tile_shape(), unsigned threads = 1);

    std::uint64_t n() const noexcept { return n_; }
    std::uint64_t dim() const noexcept { return dim_; }
    // The amplitudes, after every gate given so far.
    std::span<Complex> state() {
        apply_pending();
        return {state_.data(), state_.size()};
    }
    std::span<const Complex> state() const {
        apply_pending();
        return {state_.data(), state_.size()};
    }

    // Single-qubit gates. Failure "..." when target >= n.
    GateResult H(std::uint64_t target);
    GateResult X(std::uint64_t target);
    GateResult U(std::uint64_t target, Complex u00, Complex u01, Complex u10, Complex u11);
    GateResult Rx(std::uint64_t target, double theta);
    GateResult Ry(std::uint64_t target, double theta);
    GateResult Rz(std::uint64_t target, double theta);

    // Permutation gates. Failure "..." ("input out of scope." for CCNOT) on a qubit >= n or
    // on coinciding qubits.
    GateResult CNOT(std::uint64_t control, std::uint64_t target);
    GateResult SWAP(std::uint64_t q1, std::uint64_t q2);
    GateResult CCNOT(std::uint64_t control1, std::uint64_t control2, std::uint64_t target);
    GateResult CSSWAP(std::uint64_t control, std::uint64_t target_1, std::uint64_t target_2);

    // [[u00, u01], [u10, u11]] on `target` where every qubit of `control` is 1.
    GateResult MCU(Qubits control, std::uint64_t target, Complex u00, Complex u01, Complex u10,
                   Complex u11);

    // Measurements draw one number from the calling thread's generator and collapse the
    // state. They have no failure value: a qubit >= n is FatalError "target out of scope!".
    DiracKet observe();
    DiracKet observe_one(std::uint64_t target);
    DiracKet observe_mul(Qubits targets);
    // The probability of every basis state; the register is untouched.
    std::vector<double> god_observe() const;

    // Applies a checked gate (gates/gate_requests) now, or keeps it with the pending ones.
    void apply(const GateRecord& gate) {
        if (pending_.deferring()) {
            defer(gate);
        } else {
            apply_gate_split({state_.data(), state_.size()}, static_cast<unsigned>(n_), gate,
                             active_kernels(), threads_);
        }
    }
    // The threads the register's work spreads over.
    unsigned threads() const noexcept { return threads_; }

private:
    GateResult submit(const GateRequest& request) {
        if (!request.ok()) return Failure{request.message()};
        apply(request.value());
        return GateResult(*this);
    }
    void defer(const GateRecord& gate);
    // Applies every pending gate. Logically const: the amplitudes it writes are the ones a
    // reader would see anyway.
    void apply_pending() const;

    std::uint64_t n_;
    mutable Amplitudes state_;
    std::uint64_t dim_;
    TileShape tiles_;
    unsigned threads_;
    mutable PendingGates pending_;
    // The tiles' working memory, made with a register that defers and null otherwise.
    std::unique_ptr<TileWorkspace> workspace_;
};

// Bytes of amplitudes a register of n qubits needs, after the guard: throws FatalError with
// "capacity overflow" for n >= kOverflowQubits or a count beyond a signed 64-bit size, and with the
// memory-guard text when the bytes exceed `available_bytes`.
std::uint64_t register_bytes(std::uint64_t n, std::uint64_t available_bytes);

}  // namespace qubit
