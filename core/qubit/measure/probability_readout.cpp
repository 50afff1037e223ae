#include "qubit/measure/probability_readout.h"

#include <new>
#include <stdexcept>
#include <string>

#include "qubit/state/fatal_error.h"

namespace qubit {

std::vector<double> reserved_doubles(std::uint64_t count) {
    std::vector<double> values;
    try {
        values.reserve(count);
    } catch (const std::bad_alloc&) {
        throw allocation_failure(count * sizeof(double));
    } catch (const std::length_error&) {  // beyond what a vector can index
        throw allocation_failure(count * sizeof(double));
    }
    return values;
}

std::vector<double> probabilities(std::span<const Complex> state, std::uint64_t available_bytes) {
    // Checked up front: running out halfway through building the list would not raise an
    // error, the kernel would end the process.
    const std::uint64_t needed = kReadoutBytesPerState * state.size();
    if (needed > available_bytes) {
        throw FatalError(
            "Not enough memory to read out the probabilities of " + std::to_string(state.size()) +
            " basis states: this needs " + std::to_string(needed) + " bytes of memory (" +
            std::to_string(kReadoutBytesPerState) + " per basis state, the list included) and " +
            std::to_string(available_bytes) + " bytes are available");
    }
    std::vector<double> values = reserved_doubles(state.size());
    for (const Complex& a : state) values.push_back(norm(a));
    return values;
}

}  // namespace qubit
