// The arithmetic of the measurements: choosing an outcome from a draw and collapsing the
// amplitudes onto it. The sums that choose an outcome run on the calling thread, in index
// order; with `threads` > 1 the collapse that follows is shared out over that many, every
// amplitude getting the same operation. The draw is a parameter, so every rule here can be checked
// with chosen draws; the register's methods only check arguments, draw and call these.
//
// Probabilities are re*re + im*im, summed left to right exactly as written, never
// normalised first. An outcome whose probability is zero (or not a number) is never chosen:
// a draw the running sum does not reach falls back to the last outcome that has some
// probability, and only a vector without any probability yields outcome 0.
#pragma once

#include <cstdint>
#include <span>

#include "qubit/measure/outcome_table.h"
#include "qubit/state/complex.h"

namespace qubit {

struct Selection {
    std::uint64_t outcome;
    bool has_mass;  // false: no entry had a positive probability, outcome is 0
};

// The first l at which the running sum of probabilities[0..l] reaches r and whose own
// probability is positive; else the last l with a positive probability; else 0.
Selection select_by_running_sum(std::span<const double> probabilities, double r);

// Whole-register measurement with draw r: the selection above over the probabilities of the
// amplitudes (the pass stops at the outcome), then the vector becomes exactly 1 + 0i at the
// outcome and 0 + 0i elsewhere. Returns the outcome.
std::uint64_t select_and_collapse_all(std::span<Complex> state, double r, unsigned threads = 1);

// What the probability pass of a one-qubit measurement learns.
struct QubitOneSum {
    double p1;             // compensated sum over the indices with the qubit set, ascending
    bool zero_half_empty;  // every index with the qubit clear has probability exactly 0
};

QubitOneSum sum_qubit_one(std::span<const Complex> state, unsigned target);

// Outcome 1 when r < p1 (or when p1 > 0 and the other half is empty), else 0. The kept half
// is divided by sqrt(p1) or sqrt(1 - p1), the other half zeroed. Returns the outcome.
std::uint64_t select_and_collapse_one(std::span<Complex> state, unsigned target, QubitOneSum sum,
                                      double r, unsigned threads = 1);

// Joint measurement of `sorted_targets` (ascending, duplicates kept; what `table` was built
// from) with draw r: the selection above over the table, then the indices that agree with the
// outcome are divided by sqrt(table[outcome]) and the rest zeroed. Without any probability in
// the table the outcome is 0 and the amplitudes are left alone. Returns the outcome.
std::uint64_t select_and_collapse_joint(std::span<Complex> state,
                                        std::span<const std::uint64_t> sorted_targets,
                                        const OutcomeTable& table, double r, unsigned threads = 1);

}  // namespace qubit
