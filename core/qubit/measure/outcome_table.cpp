#include "qubit/measure/outcome_table.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <string>

#include "qubit/kernels/prefetch_ahead.h"
#include "qubit/state/fatal_error.h"

namespace qubit {
namespace {

// Bit m of the result is bit targets[m] of j.
std::uint64_t gather_outcome(std::uint64_t j, std::span<const std::uint64_t> targets) {
    std::uint64_t l = 0;
    for (std::size_t m = 0; m < targets.size(); ++m) l |= ((j >> targets[m]) & 1) << m;
    return l;
}

// The joint outcome of an index without gathering its bits one by one: the outcome is an OR
// of one share per index bit, so it splits into the share of the low bits (a small table)
// and the share of the bits above (gathered once per block of indices).
class OutcomeOfIndex {
public:
    static constexpr unsigned kLowBits = 10;

    OutcomeOfIndex(std::span<const std::uint64_t> targets, unsigned n)
        : targets_(targets), low_bits_(std::min(kLowBits, n)) {
        for (std::uint64_t v = 0; v < (std::uint64_t{1} << low_bits_); ++v) {
            low_share_[v] = gather_outcome(v, targets);
        }
    }

    std::uint64_t operator()(std::uint64_t j) {
        return high_share(j & ~(block_size() - 1)) | low_share_[j & (block_size() - 1)];
    }

    // Blocks are aligned runs of this many indices; within one, the outcome of the index
    // block + i is high_share(block) | low_shares()[i], and the two shares have no bit in
    // common.
    std::uint64_t block_size() const { return std::uint64_t{1} << low_bits_; }
    const std::uint64_t* low_shares() const { return low_share_.data(); }
    std::uint64_t high_share(std::uint64_t block) {
        if (block != block_) {
            block_ = block;
            high_share_ = gather_outcome(block, targets_);
        }
        return high_share_;
    }

private:
    std::span<const std::uint64_t> targets_;
    unsigned low_bits_;
    std::array<std::uint64_t, std::size_t{1} << kLowBits> low_share_;
    std::uint64_t block_ = ~std::uint64_t{0};
    std::uint64_t high_share_ = 0;
};

// Windows shorter than this many indices are summed index by index into the table.
constexpr std::uint64_t kShortWindow = 16;

// Adds the `length` probabilities from `lower` into sums[0] and sums[1] in turn, a run of
// `run` indices each, and, side by side, those from `upper` into sums[2] and sums[3].
template <bool kUpper>
inline void add_alternating_runs(const Complex* lower, const Complex* upper, std::uint64_t length,
                                 std::uint64_t run, double* sums) {
    double s0 = sums[0], s1 = sums[1], s2 = 0.0, s3 = 0.0;
    if constexpr (kUpper) {
        s2 = sums[2];
        s3 = sums[3];
    }
    const auto add = [&](std::uint64_t i) {
        prefetch_ahead(lower + i);
        prefetch_ahead(lower + i + run);
        if constexpr (kUpper) {
            prefetch_ahead(upper + i);
            prefetch_ahead(upper + i + run);
        }
        s0 = s0 + norm(lower[i]);
        s1 = s1 + norm(lower[i + run]);
        if constexpr (kUpper) {
            s2 = s2 + norm(upper[i]);
            s3 = s3 + norm(upper[i + run]);
        }
    };
    if (run == 1) {
        for (std::uint64_t i = 0; i < length; i += 2) add(i);
    } else {
        for (std::uint64_t pair = 0; pair < length; pair += 2 * run) {
            for (std::uint64_t i = pair; i < pair + run; ++i) add(i);
        }
    }
    sums[0] = s0;
    sums[1] = s1;
    if constexpr (kUpper) {
        sums[2] = s2;
        sums[3] = s3;
    }
}

}  // namespace

OutcomeTable::OutcomeTable(std::span<const Complex> state,
                           std::span<const std::uint64_t> sorted_targets,
                           std::span<const double> start)
    : count_(std::uint64_t{1} << sorted_targets.size()) {
    // calloc hands out zero pages lazily: a wide table over a small register costs little.
    entries_ = static_cast<double*>(std::calloc(count_, sizeof(double)));
    if (entries_ == nullptr) {
        throw allocation_failure(
            count_ * sizeof(double),
            " (outcome table of " + std::to_string(sorted_targets.size()) + " measured qubits)");
    }
    if (!start.empty()) std::copy(start.begin(), start.end(), entries_);

    const Complex* amplitudes = state.data();
    const std::uint64_t dim = state.size();
    if (sorted_targets.empty()) {
        double sum = entries_[0];
        for (std::uint64_t j = 0; j < dim; ++j) {
            prefetch_ahead(amplitudes + j);
            sum = sum + norm(amplitudes[j]);
        }
        entries_[0] = sum;
        return;
    }

    // Each entry's sum is serial, so the pass is paced by the latency of its additions and
    // wants several entries summed side by side, each still in index order. Index bits below
    // the lowest measured qubit t0 leave the outcome alone: runs of 2^t0 indices share an
    // entry. Below the next measured qubit t1 only bit t0 changes, and below the one after,
    // t2, only bits t0 and t1: such a window feeds four entries, kept in registers.
    const std::uint64_t t0 = sorted_targets[0];
    const auto after_t0 = std::upper_bound(sorted_targets.begin(), sorted_targets.end(), t0);
    const std::uint64_t run = std::uint64_t{1} << t0;
    OutcomeOfIndex outcome_of(sorted_targets, static_cast<unsigned>(std::countr_zero(dim)));
    if (after_t0 == sorted_targets.end()) {  // one qubit, maybe listed more than once
        const std::uint64_t clear = outcome_of(0);
        const std::uint64_t set = outcome_of(run);
        double sums[2] = {entries_[clear], entries_[set]};
        add_alternating_runs<false>(amplitudes, nullptr, dim, run, sums);
        entries_[clear] = sums[0];
        entries_[set] = sums[1];
        return;
    }
    const std::uint64_t segment = std::uint64_t{1} << *after_t0;
    const auto after_t1 = std::upper_bound(after_t0, sorted_targets.end(), *after_t0);
    const std::uint64_t window =
        after_t1 == sorted_targets.end() ? dim : std::uint64_t{1} << *after_t1;
    if (window < kShortWindow) {
        // Many measured low qubits: consecutive indices go to many different entries, so
        // adding in place keeps enough sums in flight.
        const std::uint64_t block_size = outcome_of.block_size();
        const std::uint64_t* low_share = outcome_of.low_shares();
        for (std::uint64_t block = 0; block < dim; block += block_size) {
            double* entries = entries_ + outcome_of.high_share(block);
            const Complex* a = amplitudes + block;
            for (std::uint64_t i = 0; i < block_size; ++i) {
                prefetch_ahead(a + i);
                entries[low_share[i]] = entries[low_share[i]] + norm(a[i]);
            }
        }
        return;
    }
    for (std::uint64_t start = 0; start < dim; start += window) {
        const std::uint64_t outcomes[4] = {outcome_of(start), outcome_of(start + run),
                                           outcome_of(start + segment),
                                           outcome_of(start + segment + run)};
        double sums[4];
        for (int q = 0; q < 4; ++q) sums[q] = entries_[outcomes[q]];
        if (segment == 2) {  // qubits 0 and 1: the four entries simply take turns
            for (std::uint64_t j = start; j < start + window; j += 4) {
                prefetch_ahead(amplitudes + j);
                for (int q = 0; q < 4; ++q) sums[q] = sums[q] + norm(amplitudes[j + q]);
            }
        } else {
            for (std::uint64_t lower = start; lower < start + window; lower += 2 * segment) {
                add_alternating_runs<true>(amplitudes + lower, amplitudes + lower + segment,
                                           segment, run, sums);
            }
        }
        for (int q = 0; q < 4; ++q) entries_[outcomes[q]] = sums[q];
    }
}

OutcomeTable::~OutcomeTable() { std::free(entries_); }

}  // namespace qubit
