#include "qubit/fatal_error.h"
#include "qubit/register.h"

namespace qubit {

GateResult QuantumRegister::H(std::uint64_t) { throw FatalError("not built yet"); }
GateResult QuantumRegister::X(std::uint64_t) { throw FatalError("not built yet"); }
GateResult QuantumRegister::U(std::uint64_t, Complex, Complex, Complex, Complex) {
    throw FatalError("not built yet");
}
GateResult QuantumRegister::Rx(std::uint64_t, double) { throw FatalError("not built yet"); }
GateResult QuantumRegister::Ry(std::uint64_t, double) { throw FatalError("not built yet"); }
GateResult QuantumRegister::Rz(std::uint64_t, double) { throw FatalError("not built yet"); }

}  // namespace qubit
