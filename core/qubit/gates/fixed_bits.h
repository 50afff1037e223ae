// FixedBits: the basis indices a gate touches, every index whose named qubits hold fixed
// values, in increasing order. The j-th of them is the counter j with the fixed bits
// inserted. They come in runs of 2^p consecutive indices, p the lowest fixed position, so
// kernels work on whole runs and the enumeration costs a little per run, nothing per
// amplitude.
//
// Integer code only: it is shared by every kernel driver, whatever its instruction set.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "qubit/gates/bits.h"
#include "qubit/state/qubit_limits.h"

namespace qubit {

// Qubits with a fixed value, ascending. A register has at most kMaxQubits qubits.
class FixedBits {
public:
    // Adds qubit `position` (not yet present) with value `bit`.
    constexpr void add(unsigned position, std::uint64_t bit) {
        unsigned i = count_++;
        for (; i > 0 && position_[i - 1] > position; --i) position_[i] = position_[i - 1];
        position_[i] = static_cast<std::uint8_t>(position);
        mask_ |= std::uint64_t{1} << position;
        ones_ |= bit << position;
    }

    // Adds every qubit of `mask` (none yet present), each with its bit of `values`.
    constexpr void add_each(std::uint64_t mask, std::uint64_t values) {
        for (; mask != 0; mask &= mask - 1) {
            const unsigned position = static_cast<unsigned>(std::countr_zero(mask));
            add(position, (values >> position) & 1);
        }
    }

    constexpr unsigned count() const { return count_; }
    constexpr bool holds(unsigned position) const { return ((mask_ >> position) & 1) != 0; }
    // The value of a position it holds.
    constexpr std::uint64_t value(unsigned position) const { return (ones_ >> position) & 1; }
    constexpr unsigned lowest() const { return position_[0]; }
    constexpr std::uint64_t mask() const { return mask_; }
    constexpr std::uint64_t ones() const { return ones_; }

    // The j-th index, counting from 0, with the fixed bits in place.
    constexpr std::uint64_t index(std::uint64_t j) const {
        for (unsigned i = 0; i < count_; ++i) j = insert_zero(j, position_[i]);
        return j | ones_;
    }

    // Calls visit(start) for the first index of every run of 2^lowest() consecutive
    // indices, in increasing order, over a register of n qubits (n > every position): the
    // starts are index(0), index(2^lowest()), index(2 * 2^lowest()), ...
    //
    // Up to the second fixed position the starts follow at a fixed stride; each group of
    // them is a segment, and the next segment begins where the counter, plus one with the
    // carry passed over the fixed bits, lands. So a start costs an addition, never a
    // row of insertions.
    //
    // For example n = 6 with qubit 1 fixed at 1 and qubit 3 at 0: runs are 2^1 = 2 long,
    // the stride is 4, and below qubit 3 a segment holds 2^(3-1-1) = 2 runs; there are
    // 2^(6+1-2-3) = 4 segments. The starts, in binary (qubits 5..0):
    //   segment 0: 000010, 000110    segment 1: 010010, 010110
    //   segment 2: 100010, 100110    segment 3: 110010, 110110
    // After segment 0 the free bits 000000, with every fixed bit and every bit below qubit
    // 3 set (001111), plus one, give 010000; without the fixed bits: 010000, the next
    // segment's free bits, to which ones_ (000010) adds the fixed 1.
    template <class Visit>
    void for_each_run(unsigned n, Visit&& visit) const {
        const unsigned low = position_[0];
        const unsigned next = count_ > 1 ? position_[1] : n;
        const std::uint64_t stride = std::uint64_t{2} << low;
        const std::uint64_t runs_per_segment = std::uint64_t{1} << (next - low - 1);
        const std::uint64_t segments = std::uint64_t{1} << (n + 1 - count_ - next);
        const std::uint64_t carry_over = mask_ | ((std::uint64_t{1} << next) - 1);
        std::uint64_t free_bits = 0;  // the segment's start without its fixed bits
        for (std::uint64_t segment = 0; segment < segments; ++segment) {
            std::uint64_t start = free_bits | ones_;
            for (std::uint64_t r = 0; r < runs_per_segment; ++r, start += stride) visit(start);
            free_bits = ((free_bits | carry_over) + 1) & ~mask_;
        }
    }

    // The largest index in the runs for_each_run visits, over a register of n qubits.
    constexpr std::uint64_t last_index(unsigned n) const {
        return index((std::uint64_t{1} << (n - count_)) - 1);
    }

private:
    std::array<std::uint8_t, 64> position_{};
    static_assert(kMaxQubits <= 64, "every qubit of a register has a bit in a mask");
    unsigned count_ = 0;
    std::uint64_t mask_ = 0;  // every fixed position
    std::uint64_t ones_ = 0;  // the fixed positions whose value is 1
};

// The guard every driver runs once before it writes: the indices it builds grow with the
// counter, so the largest one bounds them all. Throws FatalError when `index` is not below
// `size`; unreachable while the register keeps its length at 2^n.
void require_index_below(std::uint64_t index, std::uint64_t size);

}  // namespace qubit
