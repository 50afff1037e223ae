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
#include <optional>
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

// The selection above part way through: a state held in consecutive blocks (by processes,
// say) is selected from block after block, carrying this from one to the next, with exactly
// the additions of one pass over the whole.
struct RunningSelection {
    double sum = 0.0;
    bool has_mass = false;
    bool found = false;
    std::uint64_t outcome = 0;  // found: the chosen index; else the last one with mass so far

    Selection selection() const { return {outcome, has_mass}; }
};

// Continues `running` over the probabilities of `block`, whose first index is `first`.
void continue_selection(std::span<const Complex> block, std::uint64_t first, double r,
                        RunningSelection& running);

// Whole-register measurement with draw r: the selection above over the probabilities of the
// amplitudes (the pass stops at the outcome), then the vector becomes exactly 1 + 0i at the
// outcome and 0 + 0i elsewhere. Returns the outcome.
std::uint64_t select_and_collapse_all(std::span<Complex> state, double r, unsigned threads = 1);

// Its collapse alone: every amplitude 0 + 0i but the one at `outcome`, if given, 1 + 0i.
void collapse_to_basis(std::span<Complex> state, std::optional<std::uint64_t> outcome,
                       unsigned threads = 1);

// What the probability pass of a one-qubit measurement learns.
struct QubitOneSum {
    double p1;             // compensated sum over the indices with the qubit set, ascending
    bool zero_half_empty;  // every index with the qubit clear has probability exactly 0
};

QubitOneSum sum_qubit_one(std::span<const Complex> state, unsigned target);

// The pass part way through, carried from block to block as RunningSelection is.
struct QubitOneRunning {
    double p1 = 0.0;
    double compensation = 0.0;
    bool zero_half_has_mass = false;

    // One more probability of the 1 half, in ascending index order.
    void add_one(double p) {
        const double y = p - compensation;
        const double t = p1 + y;
        compensation = (t - p1) - y;
        p1 = t;
    }
    QubitOneSum sum() const { return {p1, !zero_half_has_mass}; }
};

// Continues the pass over a block holding both halves of `target`.
void continue_qubit_one(std::span<const Complex> block, unsigned target, QubitOneRunning& running);
// Continues it over a block that lies wholly in the 1 half (`in_one_half`) or the 0 half.
void continue_qubit_one_block(std::span<const Complex> block, bool in_one_half,
                              QubitOneRunning& running);

struct QubitOneChoice {
    bool one;  // the outcome
    double g;  // what the kept half is divided by
};

// Outcome 1 when r < p1 (or when p1 > 0 and the other half is empty), else 0; the kept half
// is divided by sqrt(p1) or sqrt(1 - p1).
QubitOneChoice choose_qubit_one(QubitOneSum sum, double r);

// That choice, then the collapse: the kept half divided, the other half zeroed. Returns the
// outcome.
std::uint64_t select_and_collapse_one(std::span<Complex> state, unsigned target, QubitOneSum sum,
                                      double r, unsigned threads = 1);
void collapse_qubit_one(std::span<Complex> state, unsigned target, QubitOneChoice choice,
                        unsigned threads = 1);

// A block wholly kept (every amplitude divided by g) or wholly dropped (zeroed), with the
// operations of the collapses here.
void collapse_block(std::span<Complex> block, bool kept, double g, unsigned threads = 1);

// Joint measurement of `sorted_targets` (ascending, duplicates kept; what `table` was built
// from) with draw r: the selection above over the table, then the indices that agree with the
// outcome are divided by sqrt(table[outcome]) and the rest zeroed. Without any probability in
// the table the outcome is 0 and the amplitudes are left alone. Returns the outcome.
std::uint64_t select_and_collapse_joint(std::span<Complex> state,
                                        std::span<const std::uint64_t> sorted_targets,
                                        const OutcomeTable& table, double r, unsigned threads = 1);
// Its collapse alone, onto `outcome` (bit m for sorted_targets[m]), dividing by g.
void collapse_joint(std::span<Complex> state, std::span<const std::uint64_t> sorted_targets,
                    std::uint64_t outcome, double g, unsigned threads = 1);

}  // namespace qubit
