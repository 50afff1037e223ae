#include "qubit/collapse.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qubit {
namespace {

double probability(Complex a) { return a.re * a.re + a.im * a.im; }

Complex divided(Complex a, double g) { return {a.re / g, a.im / g}; }

// The running-sum rule of every measurement that picks one of many outcomes. An outcome
// without probability is never picked: a draw of exactly 0 would otherwise pick a leading
// zero entry, and a draw beyond the rounded total would otherwise fall back to 0 whatever
// its probability. A NaN probability is not positive; it makes the sum NaN, so the draw is
// not reached after it and the fallback decides.
template <class ProbabilityAt>
Selection select(std::uint64_t count, double r, ProbabilityAt probability_at) {
    double s = 0.0;
    std::uint64_t last_with_mass = 0;
    bool has_mass = false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const double p = probability_at(i);
        s = s + p;
        const bool positive = p > 0.0;
        if (positive & (s >= r)) return {i, true};
        last_with_mass = positive ? i : last_with_mass;
        has_mass |= positive;
    }
    return {last_with_mass, has_mass};
}

}  // namespace

Selection select_by_running_sum(std::span<const double> probabilities, double r) {
    return select(probabilities.size(), r, [&](std::uint64_t l) { return probabilities[l]; });
}

std::uint64_t select_and_collapse_all(std::span<Complex> state, double r) {
    const Complex* amplitudes = state.data();
    const std::uint64_t outcome =
        select(state.size(), r, [=](std::uint64_t i) { return probability(amplitudes[i]); })
            .outcome;
    std::memset(state.data(), 0, state.size_bytes());
    state[outcome] = {1.0, 0.0};
    return outcome;
}

QubitOneSum sum_qubit_one(std::span<const Complex> state, unsigned target) {
    // Pairs (i0, i1 = i0 + half) in ascending order; the compensated sum runs over the i1.
    // Reading the i0 as well costs little next to the serial sum and tells whether the
    // qubit's 0 half carries any probability at all.
    const std::uint64_t half = std::uint64_t{1} << target;
    double p1 = 0.0;
    double comp = 0.0;
    bool zero_half_has_mass = false;
    for (std::uint64_t base = 0; base < state.size(); base += 2 * half) {
        const Complex* zero = state.data() + base;
        const Complex* one = zero + half;
        for (std::uint64_t i = 0; i < half; ++i) {
            const double y = probability(one[i]) - comp;
            const double t = p1 + y;
            comp = (t - p1) - y;
            p1 = t;
            zero_half_has_mass |= probability(zero[i]) != 0.0;
        }
    }
    return {p1, !zero_half_has_mass};
}

std::uint64_t select_and_collapse_one(std::span<Complex> state, unsigned target, QubitOneSum sum,
                                      double r) {
    // With nothing in the 0 half the qubit is 1 whatever the rounding of p1 below 1 says;
    // outcome 0 would divide nothing but zeros and leave an empty vector.
    const bool one = r < sum.p1 || (sum.zero_half_empty && sum.p1 > 0.0);
    const double g = one ? std::sqrt(sum.p1) : std::sqrt(1.0 - sum.p1);
    const std::uint64_t half = std::uint64_t{1} << target;
    for (std::uint64_t base = 0; base < state.size(); base += 2 * half) {
        Complex* kept = state.data() + base + (one ? half : 0);
        Complex* dropped = state.data() + base + (one ? 0 : half);
        std::fill_n(dropped, half, Complex{0.0, 0.0});
        for (std::uint64_t i = 0; i < half; ++i) kept[i] = divided(kept[i], g);
    }
    return one ? 1 : 0;
}

std::uint64_t select_and_collapse_joint(std::span<Complex> state,
                                        std::span<const std::uint64_t> sorted_targets,
                                        const OutcomeTable& table, double r) {
    const Selection chosen = select_by_running_sum(table.entries(), r);
    if (!chosen.has_mass) return chosen.outcome;  // nothing to renormalise by

    std::uint64_t mask = 0;
    std::uint64_t pattern = 0;
    for (std::size_t m = 0; m < sorted_targets.size(); ++m) {
        mask |= std::uint64_t{1} << sorted_targets[m];
        pattern |= ((chosen.outcome >> m) & 1) << sorted_targets[m];
    }
    const double g = std::sqrt(table.entries()[chosen.outcome]);

    // Index bits below the lowest measured qubit do not take part in the comparison, so
    // whole runs of indices are kept or dropped together.
    const std::uint64_t run =
        sorted_targets.empty() ? state.size() : std::uint64_t{1} << sorted_targets[0];
    for (std::uint64_t base = 0; base < state.size(); base += run) {
        Complex* amplitudes = state.data() + base;
        if ((base & mask) == pattern) {
            for (std::uint64_t i = 0; i < run; ++i) amplitudes[i] = divided(amplitudes[i], g);
        } else {
            std::fill_n(amplitudes, run, Complex{0.0, 0.0});
        }
    }
    return chosen.outcome;
}

}  // namespace qubit
