#include "qubit/fatal_error.h"
#include "qubit/register.h"

namespace qubit {

Result<DiracKet> QuantumRegister::observe() { throw FatalError("not built yet"); }
Result<DiracKet> QuantumRegister::observe_one(std::uint64_t) { throw FatalError("not built yet"); }
Result<DiracKet> QuantumRegister::observe_mul(Qubits) { throw FatalError("not built yet"); }
Result<std::vector<double>> QuantumRegister::god_observe() const { throw FatalError("not built yet"); }

}  // namespace qubit
