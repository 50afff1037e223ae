#include "qubit/gates/gate_requests.h"

#include <cmath>

#include "qubit/gates/bits.h"

namespace qubit {
namespace {

GateRequest refused(const char* message = "...") { return Failure{message}; }

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

GateRequest hadamard_request(std::uint64_t n, std::uint64_t target) {
    if (target >= n) return refused();
    return one_qubit(GateKind::kHadamard, target);
}

GateRequest x_request(std::uint64_t n, std::uint64_t target) {
    if (target >= n) return refused();
    return flip(0, target);
}

GateRequest u_request(std::uint64_t n, std::uint64_t target, Complex u00, Complex u01, Complex u10,
                      Complex u11) {
    if (target >= n) return refused();
    return one_qubit(GateKind::kMatrix, target, {u00, u01, u10, u11});
}

GateRequest rx_request(std::uint64_t n, std::uint64_t target, double theta) {
    if (target >= n) return refused();
    const auto [sigma, gamma] = HalfAngle(theta);
    return one_qubit(GateKind::kMatrix, target,
                     {{gamma, +0.0}, {+0.0, -sigma}, {+0.0, -sigma}, {gamma, +0.0}});
}

GateRequest ry_request(std::uint64_t n, std::uint64_t target, double theta) {
    if (target >= n) return refused();
    const auto [sigma, gamma] = HalfAngle(theta);
    // The upper right entry is the negation of (sigma + 0i): its imaginary part is -0.0.
    return one_qubit(GateKind::kMatrix, target,
                     {{gamma, +0.0}, {-sigma, -0.0}, {sigma, +0.0}, {gamma, +0.0}});
}

GateRequest rz_request(std::uint64_t n, std::uint64_t target, double theta) {
    if (target >= n) return refused();
    // Two half angles, each with its own sine and cosine: diag(e^(-i theta/2), e^(i theta/2)),
    // kept on the diagonal of the record's matrix.
    const double h0 = theta * -0.5;
    const double h1 = 0.5 * theta;
    return one_qubit(GateKind::kDiagonal, target,
                     {{std::cos(h0), std::sin(h0)}, {}, {}, {std::cos(h1), std::sin(h1)}});
}

GateRequest cnot_request(std::uint64_t n, std::uint64_t control, std::uint64_t target) {
    if (control == target || target >= n || control >= n) return refused();
    return flip(bit(control), target);
}

GateRequest swap_request(std::uint64_t n, std::uint64_t q1, std::uint64_t q2) {
    if (q1 == q2 || q1 >= n || q2 >= n) return refused();
    return exchange(0, q1, q2);
}

GateRequest ccnot_request(std::uint64_t n, std::uint64_t control1, std::uint64_t control2,
                          std::uint64_t target) {
    if (control2 >= n || target >= n || control1 >= n || control1 == control2 ||
        control1 == target || control2 == target) {
        return refused("input out of scope.");
    }
    return flip(bit(control1) | bit(control2), target);
}

GateRequest csswap_request(std::uint64_t n, std::uint64_t control, std::uint64_t target_1,
                           std::uint64_t target_2) {
    if (target_2 >= n || control >= n || target_1 >= n || control == target_1 ||
        control == target_2 || target_1 == target_2) {
        return refused();
    }
    return exchange(bit(control), target_1, target_2);
}

GateRequest mcu_request(std::uint64_t n, const std::vector<std::uint64_t>& control,
                        std::uint64_t target, Complex u00, Complex u01, Complex u10, Complex u11) {
    if (target >= n) return refused();
    std::uint64_t controls = 0;  // n <= kMaxQubits, so every valid qubit has a bit here
    for (const std::uint64_t c : control) {
        if (c >= n || c == target) return refused();
        if ((controls & bit(c)) != 0) return refused();  // listed twice
        controls |= bit(c);
    }
    GateRecord gate = one_qubit(GateKind::kMatrix, target, {u00, u01, u10, u11});
    gate.controls = controls;
    return gate;
}

}  // namespace qubit
