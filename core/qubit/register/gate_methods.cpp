// The register's gate methods: each asks for its gate (gates/gate_requests), which checks the
// arguments, and hands the record to the register, which applies it now or with the gates
// after it (register.cpp). A refusal leaves the register as it was.
#include "qubit/gates/gate_requests.h"
#include "qubit/register/register.h"

namespace qubit {

GateResult QuantumRegister::H(std::uint64_t target) { return submit(hadamard_request(n_, target)); }

GateResult QuantumRegister::X(std::uint64_t target) { return submit(x_request(n_, target)); }

GateResult QuantumRegister::U(std::uint64_t target, Complex u00, Complex u01, Complex u10,
                              Complex u11) {
    return submit(u_request(n_, target, u00, u01, u10, u11));
}

GateResult QuantumRegister::Rx(std::uint64_t target, double theta) {
    return submit(rx_request(n_, target, theta));
}

GateResult QuantumRegister::Ry(std::uint64_t target, double theta) {
    return submit(ry_request(n_, target, theta));
}

GateResult QuantumRegister::Rz(std::uint64_t target, double theta) {
    return submit(rz_request(n_, target, theta));
}

GateResult QuantumRegister::CNOT(std::uint64_t control, std::uint64_t target) {
    return submit(cnot_request(n_, control, target));
}

GateResult QuantumRegister::SWAP(std::uint64_t q1, std::uint64_t q2) {
    return submit(swap_request(n_, q1, q2));
}

GateResult QuantumRegister::CCNOT(std::uint64_t control1, std::uint64_t control2,
                                  std::uint64_t target) {
    return submit(ccnot_request(n_, control1, control2, target));
}

GateResult QuantumRegister::CSSWAP(std::uint64_t control, std::uint64_t target_1,
                                   std::uint64_t target_2) {
    return submit(csswap_request(n_, control, target_1, target_2));
}

GateResult QuantumRegister::MCU(Qubits control, std::uint64_t target, Complex u00, Complex u01,
                                Complex u10, Complex u11) {
    return submit(mcu_request(n_, control, target, u00, u01, u10, u11));
}

}  // namespace qubit
