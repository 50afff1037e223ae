// The gate each gate method asks for: its arguments checked against a register of n qubits
// and, when they pass, the one record that applies it. A refusal carries the method's
// message and changes nothing. Every register, whether it holds its state in one piece or
// spread over processes, builds its gates here, so they refuse alike and apply alike.
#pragma once

#include <cstdint>
#include <vector>

#include "qubit/gates/gate_record.h"
#include "qubit/state/complex.h"
#include "qubit/state/result.h"

namespace qubit {

using GateRequest = Result<GateRecord>;

// Single-qubit gates: "..." when target >= n.
GateRequest hadamard_request(std::uint64_t n, std::uint64_t target);
GateRequest x_request(std::uint64_t n, std::uint64_t target);
GateRequest u_request(std::uint64_t n, std::uint64_t target, Complex u00, Complex u01, Complex u10,
                      Complex u11);
GateRequest rx_request(std::uint64_t n, std::uint64_t target, double theta);
GateRequest ry_request(std::uint64_t n, std::uint64_t target, double theta);
GateRequest rz_request(std::uint64_t n, std::uint64_t target, double theta);

// Permutation gates: "..." ("input out of scope." for CCNOT) on a qubit >= n or on
// coinciding qubits.
GateRequest cnot_request(std::uint64_t n, std::uint64_t control, std::uint64_t target);
GateRequest swap_request(std::uint64_t n, std::uint64_t q1, std::uint64_t q2);
GateRequest ccnot_request(std::uint64_t n, std::uint64_t control1, std::uint64_t control2,
                          std::uint64_t target);
GateRequest csswap_request(std::uint64_t n, std::uint64_t control, std::uint64_t target_1,
                           std::uint64_t target_2);

// [[u00, u01], [u10, u11]] on `target` where every qubit of `control` is 1: "..." on a
// qubit >= n, a control equal to the target or a control listed twice.
GateRequest mcu_request(std::uint64_t n, const std::vector<std::uint64_t>& control,
                        std::uint64_t target, Complex u00, Complex u01, Complex u10, Complex u11);

}  // namespace qubit
