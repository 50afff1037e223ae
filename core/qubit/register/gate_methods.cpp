// The register's gate methods: each checks its arguments, refusing with a failure that
// leaves the register as it was, then hands one record to the register, which applies it
// now or with the gates after it (register.cpp).
#include <cmath>
#include <cstdint>

#include "qubit/gates/bits.h"
#include "qubit/gates/gate_record.h"
#include "qubit/register/register.h"

namespace qubit {
namespace {

GateResult refused(const char* message = "...") { return Failure{message}; }

std::uint8_t qubit_byte(std::uint64_t q) { return static_cast<std::uint8_t>(q); }

GateRecord one_qubit(GateKind kind, std::uint64_t target, const Matrix2& matrix = {}) {
    return {kind, qubit_byte(target), 0, 0, matrix};
}

GateRecord flip(std::uint64_t controls, std::uint64_t target) {
    return {GateKind::kFlip, qubit_byte(target), 0, controls, {}};
}

GateRecord exchange(std::uint64_t controls, std::uint64_t q1, std::uint64_t q2) {
    return {GateKind::kSwap,
            qubit_byte(q1 < q2 ? q1 : q2),
            qubit_byte(q1 < q2 ? q2 : q1),
            controls,
            {}};
}

// Rotation matrices from sin and cos of theta/2, taken once per call.
struct HalfAngle {
    double sigma, gamma;
    explicit HalfAngle(double theta) : sigma(std::sin(theta * 0.5)), gamma(std::cos(theta * 0.5)) {}
};

}  // namespace

GateResult QuantumRegister::H(std::uint64_t target) {
    if (target >= n_) return refused();
    return submit(one_qubit(GateKind::kHadamard, target));
}

GateResult QuantumRegister::X(std::uint64_t target) {
    if (target >= n_) return refused();
    return submit(flip(0, target));
}

GateResult QuantumRegister::U(std::uint64_t target, Complex u00, Complex u01, Complex u10,
                              Complex u11) {
    if (target >= n_) return refused();
    return submit(one_qubit(GateKind::kMatrix, target, {u00, u01, u10, u11}));
}

GateResult QuantumRegister::Rx(std::uint64_t target, double theta) {
    if (target >= n_) return refused();
    const auto [sigma, gamma] = HalfAngle(theta);
    return submit(one_qubit(GateKind::kMatrix, target,
                            {{gamma, +0.0}, {+0.0, -sigma}, {+0.0, -sigma}, {gamma, +0.0}}));
}

GateResult QuantumRegister::Ry(std::uint64_t target, double theta) {
    if (target >= n_) return refused();
    const auto [sigma, gamma] = HalfAngle(theta);
    // The upper right entry is the negation of (sigma + 0i): its imaginary part is -0.0.
    return submit(one_qubit(GateKind::kMatrix, target,
                            {{gamma, +0.0}, {-sigma, -0.0}, {sigma, +0.0}, {gamma, +0.0}}));
}

GateResult QuantumRegister::Rz(std::uint64_t target, double theta) {
    if (target >= n_) return refused();
    // Two half angles, each with its own sine and cosine: diag(e^(-i theta/2), e^(i theta/2)),
    // kept on the diagonal of the record's matrix.
    const double h0 = theta * -0.5;
    const double h1 = 0.5 * theta;
    return submit(one_qubit(GateKind::kDiagonal, target,
                            {{std::cos(h0), std::sin(h0)}, {}, {}, {std::cos(h1), std::sin(h1)}}));
}

GateResult QuantumRegister::CNOT(std::uint64_t control, std::uint64_t target) {
    if (control == target || target >= n_ || control >= n_) return refused();
    return submit(flip(bit(control), target));
}

GateResult QuantumRegister::SWAP(std::uint64_t q1, std::uint64_t q2) {
    if (q1 == q2 || q1 >= n_ || q2 >= n_) return refused();
    return submit(exchange(0, q1, q2));
}

GateResult QuantumRegister::CCNOT(std::uint64_t control1, std::uint64_t control2,
                                  std::uint64_t target) {
    if (control2 >= n_ || target >= n_ || control1 >= n_ || control1 == control2 ||
        control1 == target || control2 == target) {
        return refused("input out of scope.");
    }
    return submit(flip(bit(control1) | bit(control2), target));
}

GateResult QuantumRegister::CSSWAP(std::uint64_t control, std::uint64_t target_1,
                                   std::uint64_t target_2) {
    if (target_2 >= n_ || control >= n_ || target_1 >= n_ || control == target_1 ||
        control == target_2 || target_1 == target_2) {
        return refused();
    }
    return submit(exchange(bit(control), target_1, target_2));
}

GateResult QuantumRegister::MCU(Qubits control, std::uint64_t target, Complex u00, Complex u01,
                                Complex u10, Complex u11) {
    if (target >= n_) return refused();
    std::uint64_t controls = 0;  // n <= kMaxQubits, so every valid qubit has a bit here
    for (const std::uint64_t c : control) {
        if (c >= n_ || c == target) return refused();
        if ((controls & bit(c)) != 0) return refused();  // listed twice
        controls |= bit(c);
    }
    GateRecord gate = one_qubit(GateKind::kMatrix, target, {u00, u01, u10, u11});
    gate.controls = controls;
    return submit(gate);
}

}  // namespace qubit
