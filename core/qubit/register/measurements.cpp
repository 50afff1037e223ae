#include <algorithm>

#include "qubit/measure/collapse.h"
#include "qubit/measure/outcome_table.h"
#include "qubit/measure/probability_readout.h"
#include "qubit/random/thread_rng.h"
#include "qubit/register/register.h"
#include "qubit/state/fatal_error.h"
#include "qubit/state/meminfo.h"

// Each measurement checks its arguments, then draws exactly once, at the one point where a
// failure of the generator still leaves the register as it was; the arithmetic is in
// collapse.cpp.

namespace qubit {

DiracKet QuantumRegister::observe() {
    const double r = draw_f64();
    return DiracKet{select_and_collapse_all(state(), r, threads_), n_};
}

DiracKet QuantumRegister::observe_one(std::uint64_t target) {
    if (target >= n_) throw FatalError("target out of scope!");
    const unsigned qubit = static_cast<unsigned>(target);
    const QubitOneSum sum = sum_qubit_one(state(), qubit);
    const double r = draw_f64();
    return DiracKet{select_and_collapse_one(state(), qubit, sum, r, threads_), 1};
}

DiracKet QuantumRegister::observe_mul(Qubits targets) {
    for (const std::uint64_t target : targets) {
        if (target >= n_) throw FatalError("target out of scope!");
    }
    std::sort(targets.begin(), targets.end());
    if (targets.size() >= kOverflowQubits) throw FatalError("capacity overflow");
    const OutcomeTable table(state(), targets);
    const double r = draw_f64();
    return DiracKet{select_and_collapse_joint(state(), targets, table, r, threads_),
                    targets.size()};
}

std::vector<double> QuantumRegister::god_observe() const {
    // Asking the system costs a read of /proc/meminfo, several microseconds: more than a small
    // read-out itself. Below 64 MiB the list cannot be what exhausts the machine.
    constexpr std::uint64_t kWorthChecking = std::uint64_t{1} << 26;
    const bool large = kReadoutBytesPerState * dim() >= kWorthChecking;
    return probabilities(state(), large ? available_memory() : ~std::uint64_t{0}, threads_);
}

}  // namespace qubit
