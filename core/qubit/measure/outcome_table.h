// The probabilities of the joint outcomes of a set of measured qubits, the table that
// observe_mul draws from. Entry l collects, with plain addition in ascending basis index,
// the probabilities of the indices j whose bit t(m) equals bit m of l, where t(0) <= t(1) <= ...
// are the measured qubits (a qubit listed twice occupies two bits of l).
#pragma once

#include <cstdint>
#include <span>

#include "qubit/state/complex.h"
#include "qubit/state/qubit_limits.h"

namespace qubit {

class OutcomeTable {
public:
    // 2^k entries for k = sorted_targets.size() < kOverflowQubits, filled in one pass over `state`.
    // Throws FatalError naming the byte count (8 * 2^k) when the memory cannot be had. The
    // sums start from `start` (2^k entries) when it is given, so that a state held in
    // consecutive blocks is tabled block after block with the additions of one pass; from 0
    // otherwise.
    OutcomeTable(std::span<const Complex> state, std::span<const std::uint64_t> sorted_targets,
                 std::span<const double> start = {});
    ~OutcomeTable();

    OutcomeTable(const OutcomeTable&) = delete;
    OutcomeTable& operator=(const OutcomeTable&) = delete;

    std::span<const double> entries() const noexcept { return {entries_, count_}; }

private:
    double* entries_;
    std::uint64_t count_;
};

}  // namespace qubit
