#include "qubit/measure/probability_readout.h"

#include <new>
#include <stdexcept>
#include <string>

#include "qubit/parallel/worker_pool.h"
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

void check_readout_fits(std::uint64_t count, std::uint64_t available_bytes) {
    // Checked up front: running out halfway through building the list would not raise an
    // error, the kernel would end the process.
    const std::uint64_t needed = kReadoutBytesPerState * count;
    if (needed > available_bytes) {
        throw FatalError(
            "Not enough memory to read out the probabilities of " + std::to_string(count) +
            " basis states: this needs " + std::to_string(needed) + " bytes of memory (" +
            std::to_string(kReadoutBytesPerState) + " per basis state, the list included) and " +
            std::to_string(available_bytes) + " bytes are available");
    }
}

void fill_probabilities(std::span<const Complex> state, double* out, unsigned threads) {
    // Threads pay from 2^18 amplitudes on; each takes pieces of 2^16.
    constexpr std::uint64_t kPiece = std::uint64_t{1} << 16;
    if (threads <= 1 || state.size() < 4 * kPiece) {
        for (std::uint64_t i = 0; i < state.size(); ++i) out[i] = norm(state[i]);
        return;
    }
    parallel_for(threads, state.size() / kPiece, [&](std::uint64_t piece, unsigned) {
        for (std::uint64_t i = piece * kPiece; i < (piece + 1) * kPiece; ++i) {
            out[i] = norm(state[i]);
        }
    });
}

std::vector<double> probabilities(std::span<const Complex> state, std::uint64_t available_bytes,
                                  unsigned threads) {
    check_readout_fits(state.size(), available_bytes);
    std::vector<double> values = reserved_doubles(state.size());
    values.resize(state.size());
    fill_probabilities(state, values.data(), threads);
    return values;
}

}  // namespace qubit
