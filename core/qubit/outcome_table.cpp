#include "qubit/outcome_table.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <string>

#include "qubit/fatal_error.h"

namespace qubit {
namespace {

// The outcome bits contributed by the lowest index bits come from a small table, so the
// bits are gathered one by one only once per block of this many indices.
constexpr unsigned kLowBits = 10;

// Bit m of the result is bit targets[m] of j.
std::uint64_t joint_outcome(std::uint64_t j, std::span<const std::uint64_t> targets) {
    std::uint64_t l = 0;
    for (std::size_t m = 0; m < targets.size(); ++m) l |= ((j >> targets[m]) & 1) << m;
    return l;
}

double probability(Complex a) { return a.re * a.re + a.im * a.im; }

}  // namespace

OutcomeTable::OutcomeTable(std::span<const Complex> state,
                           std::span<const std::uint64_t> sorted_targets)
    : count_(std::uint64_t{1} << sorted_targets.size()) {
    // calloc hands out zero pages lazily: a wide table over a small register costs little.
    entries_ = static_cast<double*>(std::calloc(count_, sizeof(double)));
    if (entries_ == nullptr) {
        throw FatalError("memory allocation of " + std::to_string(count_ * sizeof(double)) +
                         " bytes failed (outcome table of " +
                         std::to_string(sorted_targets.size()) + " measured qubits)");
    }

    // The joint outcome is an OR of one share per index bit, so it splits into the share of
    // the bits below `low_bits` (looked up) and the share of the bits above (once per block).
    const std::uint64_t dim = state.size();
    const unsigned low_bits = std::min<unsigned>(kLowBits, std::countr_zero(dim));
    const std::uint64_t block_size = std::uint64_t{1} << low_bits;
    std::array<std::uint64_t, std::size_t{1} << kLowBits> low_share;
    for (std::uint64_t v = 0; v < block_size; ++v) low_share[v] = joint_outcome(v, sorted_targets);

    // Index bits below the lowest measured qubit leave the outcome alone: such a run of
    // indices adds into one entry, kept in a register, still in ascending index order.
    const std::uint64_t run =
        sorted_targets.empty() ? block_size
                               : std::min(block_size, std::uint64_t{1} << sorted_targets[0]);
    for (std::uint64_t block = 0; block < dim; block += block_size) {
        const std::uint64_t high_share = joint_outcome(block, sorted_targets);
        for (std::uint64_t start = 0; start < block_size; start += run) {
            double& entry = entries_[high_share | low_share[start]];
            double sum = entry;
            const Complex* amplitude = state.data() + block + start;
            for (std::uint64_t i = 0; i < run; ++i) sum = sum + probability(amplitude[i]);
            entry = sum;
        }
    }
}

OutcomeTable::~OutcomeTable() { std::free(entries_); }

}  // namespace qubit
