#include <cmath>
#include <cstdint>
#include <span>

#include "qubit/exchange_runs.h"
#include "qubit/index_runs.h"
#include "qubit/kernels.h"
#include "qubit/register.h"

namespace qubit {
namespace {

GateResult fail() { return Failure{"..."}; }

// The whole vector is one block.
constexpr std::uint64_t kWholeVector[1] = {0};

void apply_matrix(std::span<Complex> state, unsigned target, const Matrix2& m) {
    active_kernels().matrix_blocks(state.data(), kWholeVector, 1, state.size(), target, m,
                                   kAllSlots);
}

// sin and cos of theta/2, once per call, for the rotation matrices.
struct HalfAngle {
    double sigma, gamma;
    explicit HalfAngle(double theta) : sigma(std::sin(theta * 0.5)), gamma(std::cos(theta * 0.5)) {}
};

}  // namespace

GateResult QuantumRegister::H(std::uint64_t target) {
    if (target >= n_) return fail();
    active_kernels().hadamard_blocks(state_.data(), kWholeVector, 1, state_.size(), target);
    return done();
}

GateResult QuantumRegister::X(std::uint64_t target) {
    if (target >= n_) return fail();
    FixedBits fixed;
    fixed.add(target, 0);
    exchange_runs(state(), n_, fixed, std::uint64_t{1} << target);
    return done();
}

GateResult QuantumRegister::U(std::uint64_t target, Complex u00, Complex u01, Complex u10,
                              Complex u11) {
    if (target >= n_) return fail();
    apply_matrix(state(), target, {u00, u01, u10, u11});
    return done();
}

GateResult QuantumRegister::Rx(std::uint64_t target, double theta) {
    if (target >= n_) return fail();
    const auto [sigma, gamma] = HalfAngle(theta);
    apply_matrix(state(), target, {{gamma, +0.0}, {+0.0, -sigma}, {+0.0, -sigma}, {gamma, +0.0}});
    return done();
}

GateResult QuantumRegister::Ry(std::uint64_t target, double theta) {
    if (target >= n_) return fail();
    const auto [sigma, gamma] = HalfAngle(theta);
    // The upper right entry is the negation of (sigma + 0i): its imaginary part is -0.0.
    apply_matrix(state(), target, {{gamma, +0.0}, {-sigma, -0.0}, {sigma, +0.0}, {gamma, +0.0}});
    return done();
}

GateResult QuantumRegister::Rz(std::uint64_t target, double theta) {
    if (target >= n_) return fail();
    // Two half angles, each with its own sine and cosine: diag(e^(-i theta/2), e^(i theta/2)).
    const double h0 = theta * -0.5;
    const double h1 = 0.5 * theta;
    const Diagonal d{{std::cos(h0), std::sin(h0)}, {std::cos(h1), std::sin(h1)}};
    active_kernels().diagonal_blocks(state_.data(), kWholeVector, 1, state_.size(), target, d);
    return done();
}

}  // namespace qubit
