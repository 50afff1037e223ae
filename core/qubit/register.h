// The state vector of a register of n qubits: one complex amplitude for each of the 2^n
// basis states. Qubit k is bit k of a basis index (qubit 0 is the least significant bit).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "qubit/amplitudes.h"
#include "qubit/complex.h"
#include "qubit/dirac_ket.h"
#include "qubit/qubit_limits.h"
#include "qubit/result.h"

namespace qubit {

class QuantumRegister;
using GateResult = Result<std::reference_wrapper<QuantumRegister>>;
using Qubits = std::vector<std::uint64_t>;

class QuantumRegister {
public:
    // |0...0> of n qubits, after checking the operating system's available memory.
    // Throws FatalError: the memory-guard text, or "capacity overflow".
    explicit QuantumRegister(std::uint64_t n);
    // The same with the available-memory figure given instead of read.
    QuantumRegister(std::uint64_t n, std::uint64_t available_bytes);

    std::uint64_t n() const noexcept { return n_; }
    std::uint64_t dim() const noexcept { return dim_; }
    std::span<Complex> state() noexcept { return {state_.data(), state_.size()}; }
    std::span<const Complex> state() const noexcept { return {state_.data(), state_.size()}; }

    // Checked element access: an index at or beyond the array is a FatalError.
    Complex& at(std::uint64_t index);
    const Complex& at(std::uint64_t index) const;

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

private:
    GateResult done() { return GateResult(*this); }

    std::uint64_t n_;
    Amplitudes state_;
    std::uint64_t dim_;
};

// Bytes of amplitudes a register of n qubits needs, after the guard: throws FatalError with
// "capacity overflow" for n >= kOverflowQubits or a count beyond a signed 64-bit size, and with the
// memory-guard text when the bytes exceed `available_bytes`.
std::uint64_t register_bytes(std::uint64_t n, std::uint64_t available_bytes);

}  // namespace qubit
