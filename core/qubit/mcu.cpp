#include "qubit/fatal_error.h"
#include "qubit/register.h"

namespace qubit {

GateResult QuantumRegister::MCU(Qubits, std::uint64_t, Complex, Complex, Complex, Complex) {
    throw FatalError("not built yet");
}

}  // namespace qubit
