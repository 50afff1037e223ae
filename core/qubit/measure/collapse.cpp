#include "qubit/measure/collapse.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "qubit/kernels/prefetch_ahead.h"
#include "qubit/parallel/worker_pool.h"
#include "qubit/state/zero_fill.h"

namespace qubit {
namespace {

Complex divided(Complex a, double g) { return {a.re / g, a.im / g}; }

// The running-sum rule of every measurement that picks one of many outcomes. An outcome
// without probability is never picked: a draw of exactly 0 would otherwise pick a leading
// zero entry, and a draw beyond the rounded total would otherwise fall back to 0 whatever
// its probability. A NaN probability is not positive; it makes the sum NaN, so the draw is
// not reached after it and the fallback decides.
template <class ProbabilityAt>
void select(std::uint64_t count, std::uint64_t first, double r, ProbabilityAt probability_at,
            RunningSelection& running) {
    if (running.found) return;
    // The sum is serial by definition, so its latency sets the pace. Blocks of entries are
    // summed in order and checked once: the sum never decreases, so a block that ends below
    // r holds no outcome. A block that may hold it (or a NaN sum) is walked entry by entry.
    constexpr std::uint64_t kBlock = 8;
    double s = running.sum;
    bool block_has_mass = false;
    std::uint64_t block_with_mass = 0;
    std::uint64_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        double p[kBlock];
        for (std::uint64_t j = 0; j < kBlock; ++j) p[j] = probability_at(i + j);
        double t = s;
        bool positive = false;
        for (std::uint64_t j = 0; j < kBlock; ++j) {
            t = t + p[j];
            positive |= p[j] > 0.0;
        }
        if (!(t < r)) break;
        s = t;
        block_with_mass = positive ? i : block_with_mass;
        block_has_mass |= positive;
    }
    std::uint64_t last_with_mass = running.outcome;
    if (block_has_mass) {
        for (std::uint64_t j = block_with_mass; j < block_with_mass + kBlock; ++j) {
            if (probability_at(j) > 0.0) last_with_mass = first + j;
        }
    }
    bool has_mass = running.has_mass || block_has_mass;
    for (; i < count; ++i) {
        const double p = probability_at(i);
        s = s + p;
        const bool positive = p > 0.0;
        if (positive & (s >= r)) {
            running = {s, true, true, first + i};
            return;
        }
        last_with_mass = positive ? first + i : last_with_mass;
        has_mass |= positive;
    }
    running = {s, has_mass, false, last_with_mass};
}

Selection select(std::uint64_t count, double r, auto probability_at) {
    RunningSelection running;
    select(count, 0, r, probability_at, running);
    return running.selection();
}

// With threads, the collapses below share the state out in pieces of this many amplitudes,
// from four pieces on.
constexpr std::uint64_t kPiece = std::uint64_t{1} << 16;

bool shared_out(std::span<const Complex> state, unsigned threads) {
    return threads > 1 && state.size() >= 4 * kPiece;
}

// The collapse onto the indices j with (j & mask) == pattern, on threads: those are divided
// by g and every other amplitude is zeroed. Each amplitude gets the same operation as in the
// one-thread loops, so the bits do not depend on the threads.
void collapse_on_threads(std::span<Complex> state, std::uint64_t mask, std::uint64_t pattern,
                         double g, unsigned threads) {
    const bool stream = ZeroFiller::worth_streaming(state.size_bytes());
    // Runs of kept or dropped amplitudes are 2^(lowest measured qubit) long.
    const std::uint64_t run = mask == 0 ? kPiece : std::min(kPiece, mask & (~mask + 1));
    parallel_for(threads, state.size() / kPiece, [&](std::uint64_t piece, unsigned) {
        ZeroFiller zero_fill(stream);
        for (std::uint64_t start = piece * kPiece; start < (piece + 1) * kPiece; start += run) {
            Complex* const amplitudes = state.data() + start;
            if ((start & mask) != pattern) {
                zero_fill(amplitudes, run);
                continue;
            }
            for (std::uint64_t i = 0; i < run; ++i) {
                prefetch_ahead(amplitudes + i);
                amplitudes[i] = divided(amplitudes[i], g);
            }
        }
    });
}

}  // namespace

Selection select_by_running_sum(std::span<const double> probabilities, double r) {
    return select(probabilities.size(), r, [&](std::uint64_t l) { return probabilities[l]; });
}

void continue_selection(std::span<const Complex> block, std::uint64_t first, double r,
                        RunningSelection& running) {
    const Complex* amplitudes = block.data();
    select(
        block.size(), first, r,
        [=](std::uint64_t i) {
            prefetch_ahead(amplitudes + i);
            return norm(amplitudes[i]);
        },
        running);
}

void collapse_to_basis(std::span<Complex> state, std::optional<std::uint64_t> outcome,
                       unsigned threads) {
    if (shared_out(state, threads)) {
        // Nothing is kept (no index has bits outside an empty mask): all are zeroed.
        collapse_on_threads(state, 0, 1, 1.0, threads);
    } else {
        ZeroFiller zero_fill(ZeroFiller::worth_streaming(state.size_bytes()));
        zero_fill(state.data(), state.size());
    }
    if (outcome) state[*outcome] = {1.0, 0.0};
}

std::uint64_t select_and_collapse_all(std::span<Complex> state, double r, unsigned threads) {
    RunningSelection running;
    continue_selection(state, 0, r, running);
    const std::uint64_t outcome = running.selection().outcome;
    collapse_to_basis(state, outcome, threads);
    return outcome;
}

void continue_qubit_one(std::span<const Complex> state, unsigned target, QubitOneRunning& carried) {
    // Pairs (i0, i1 = i0 + half) in ascending order; the compensated sum runs over the i1.
    // Reading the i0 as well costs little next to the serial sum and tells whether the
    // qubit's 0 half carries any probability at all. The sum runs in a local copy: the
    // caller's might alias the amplitudes, which would keep it in memory, on the sum's path.
    QubitOneRunning running = carried;
    const std::uint64_t half = std::uint64_t{1} << target;
    for (std::uint64_t base = 0; base < state.size(); base += 2 * half) {
        const Complex* zero = state.data() + base;
        const Complex* one = zero + half;
        for (std::uint64_t i = 0; i < half; ++i) {
            prefetch_ahead(zero + i);
            prefetch_ahead(one + i);
            running.add_one(norm(one[i]));
            running.zero_half_has_mass |= norm(zero[i]) != 0.0;
        }
    }
    carried = running;
}

void continue_qubit_one_block(std::span<const Complex> block, bool in_one_half,
                              QubitOneRunning& carried) {
    QubitOneRunning running = carried;  // in registers, as above
    for (const Complex& a : block) {
        prefetch_ahead(&a);
        if (in_one_half) {
            running.add_one(norm(a));
        } else {
            running.zero_half_has_mass |= norm(a) != 0.0;
        }
    }
    carried = running;
}

QubitOneSum sum_qubit_one(std::span<const Complex> state, unsigned target) {
    QubitOneRunning running;
    continue_qubit_one(state, target, running);
    return running.sum();
}

QubitOneChoice choose_qubit_one(QubitOneSum sum, double r) {
    // With nothing in the 0 half the qubit is 1 whatever the rounding of p1 below 1 says;
    // outcome 0 would divide nothing but zeros and leave an empty vector.
    const bool one = r < sum.p1 || (sum.zero_half_empty && sum.p1 > 0.0);
    return {one, one ? std::sqrt(sum.p1) : std::sqrt(1.0 - sum.p1)};
}

void collapse_block(std::span<Complex> block, bool kept, double g, unsigned threads) {
    if (shared_out(block, threads)) {
        collapse_on_threads(block, 0, kept ? 0 : 1, g, threads);
        return;
    }
    if (!kept) {
        ZeroFiller zero_fill(ZeroFiller::worth_streaming(block.size_bytes()));
        zero_fill(block.data(), block.size());
        return;
    }
    for (Complex& a : block) {
        prefetch_ahead(&a);
        a = divided(a, g);
    }
}

std::uint64_t select_and_collapse_one(std::span<Complex> state, unsigned target, QubitOneSum sum,
                                      double r, unsigned threads) {
    const QubitOneChoice choice = choose_qubit_one(sum, r);
    collapse_qubit_one(state, target, choice, threads);
    return choice.one ? 1 : 0;
}

void collapse_qubit_one(std::span<Complex> state, unsigned target, QubitOneChoice choice,
                        unsigned threads) {
    const bool one = choice.one;
    const double g = choice.g;
    const std::uint64_t half = std::uint64_t{1} << target;
    const std::uint64_t kept_offset = one ? half : 0;
    if (shared_out(state, threads)) {
        collapse_on_threads(state, half, kept_offset, g, threads);
        return;
    }
    ZeroFiller zero_fill(ZeroFiller::worth_streaming(state.size_bytes()));
    if (half == 1) {  // qubit 0: kept and dropped amplitudes alternate
        for (std::uint64_t base = 0; base < state.size(); base += 2) {
            Complex* pair = state.data() + base;
            prefetch_ahead(pair);
            pair[kept_offset] = divided(pair[kept_offset], g);
            pair[1 - kept_offset] = {0.0, 0.0};
        }
        return;
    }
    for (std::uint64_t base = 0; base < state.size(); base += 2 * half) {
        Complex* kept = state.data() + base + kept_offset;
        Complex* dropped = state.data() + base + (half - kept_offset);
        zero_fill(dropped, half);
        for (std::uint64_t i = 0; i < half; ++i) {
            prefetch_ahead(kept + i);
            kept[i] = divided(kept[i], g);
        }
    }
}

std::uint64_t select_and_collapse_joint(std::span<Complex> state,
                                        std::span<const std::uint64_t> sorted_targets,
                                        const OutcomeTable& table, double r, unsigned threads) {
    const Selection chosen = select_by_running_sum(table.entries(), r);
    if (!chosen.has_mass) return chosen.outcome;  // nothing to renormalise by
    collapse_joint(state, sorted_targets, chosen.outcome,
                   std::sqrt(table.entries()[chosen.outcome]), threads);
    return chosen.outcome;
}

void collapse_joint(std::span<Complex> state, std::span<const std::uint64_t> sorted_targets,
                    std::uint64_t outcome, double g, unsigned threads) {
    if (sorted_targets.empty()) {
        for (Complex& a : state) {
            prefetch_ahead(&a);
            a = divided(a, g);
        }
        return;
    }

    // Kept are the indices j with (j & mask) == pattern. The bits of the measured qubits
    // above the lowest one, t0, are constant over a segment of 2^t1 indices (t1 the next
    // measured qubit), so a segment is either dropped whole or, within it, alternate runs of
    // 2^t0 indices are kept: those whose bit t0 is the outcome's.
    std::uint64_t mask = 0;
    std::uint64_t pattern = 0;
    for (std::size_t m = 0; m < sorted_targets.size(); ++m) {
        mask |= std::uint64_t{1} << sorted_targets[m];
        pattern |= ((outcome >> m) & 1) << sorted_targets[m];
    }
    if (shared_out(state, threads)) {
        collapse_on_threads(state, mask, pattern, g, threads);
        return;
    }
    const std::uint64_t t0 = sorted_targets[0];
    const auto next = std::upper_bound(sorted_targets.begin(), sorted_targets.end(), t0);
    const std::uint64_t run = std::uint64_t{1} << t0;
    const std::uint64_t segment =
        next == sorted_targets.end() ? state.size() : std::uint64_t{1} << *next;
    const std::uint64_t upper_mask = mask & ~run;
    const std::uint64_t upper_pattern = pattern & ~run;
    const std::uint64_t kept_offset = pattern & run;
    if (t0 == 0 && next != sorted_targets.end() && *next == 1) {
        // Qubits 0 and 1 measured: of four indices, one at most is kept.
        const std::uint64_t offset = pattern & 3;
        for (std::uint64_t start = 0; start < state.size(); start += 4) {
            Complex* amplitudes = state.data() + start;
            prefetch_ahead(amplitudes);
            const Complex kept = amplitudes[offset];
            std::fill_n(amplitudes, 4, Complex{0.0, 0.0});
            if (((start + offset) & mask) == pattern) amplitudes[offset] = divided(kept, g);
        }
        return;
    }
    // The kept segments start at upper_pattern plus any combination of the free bits (the
    // index bits from the segment size up that are not measured); (f - free_bits) & free_bits
    // steps to the next combination in ascending order. The dropped segments between two kept
    // ones are zeroed as one run, often long enough to be streamed.
    const std::uint64_t free_bits = (state.size() - 1) & ~(segment - 1) & ~upper_mask;
    ZeroFiller zero_fill(ZeroFiller::worth_streaming(state.size_bytes()));
    std::uint64_t zeroed_to = 0;
    for (std::uint64_t f = 0;; f = (f - free_bits) & free_bits) {
        const std::uint64_t start = upper_pattern | f;
        Complex* amplitudes = state.data() + start;
        for (std::uint64_t pair = 0; pair < segment; pair += 2 * run) {
            Complex* kept = amplitudes + pair + kept_offset;
            Complex* dropped = amplitudes + pair + (run - kept_offset);
            if (run >= ZeroFiller::kStreamedRun) {  // else zeroed alongside the kept run
                zero_fill(dropped, run);
                for (std::uint64_t i = 0; i < run; ++i) {
                    prefetch_ahead(kept + i);
                    kept[i] = divided(kept[i], g);
                }
                continue;
            }
            for (std::uint64_t i = 0; i < run; ++i) {
                prefetch_ahead(kept + i);
                prefetch_ahead(dropped + i);
                kept[i] = divided(kept[i], g);
                dropped[i] = {0.0, 0.0};
            }
        }
        zero_fill(state.data() + zeroed_to, start - zeroed_to);
        zeroed_to = start + segment;
        if (f == free_bits) break;
    }
    zero_fill(state.data() + zeroed_to, state.size() - zeroed_to);
}

}  // namespace qubit
