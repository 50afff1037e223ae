#include "qubit/fatal_error.h"
#include "qubit/register.h"

namespace qubit {

GateResult QuantumRegister::CNOT(std::uint64_t, std::uint64_t) { throw FatalError("not built yet"); }
GateResult QuantumRegister::SWAP(std::uint64_t, std::uint64_t) { throw FatalError("not built yet"); }
GateResult QuantumRegister::CCNOT(std::uint64_t, std::uint64_t, std::uint64_t) {
    throw FatalError("not built yet");
}
GateResult QuantumRegister::CSSWAP(std::uint64_t, std::uint64_t, std::uint64_t) {
    throw FatalError("not built yet");
}

}  // namespace qubit
