#include "qubit/gates/pair_pass.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "qubit/gates/fixed_bits.h"
#include "qubit/kernels/kernels.h"

namespace qubit {
namespace {

// Starts are handed to the kernels in batches, so a gate made of many small pieces pays for
// a kernel call once per batch rather than once per piece.
class StartBatch {
public:
    template <class Flush>
    void add(std::uint64_t start, Flush&& flush) {
        starts_[count_++] = start;
        if (count_ == kCapacity) finish(flush);
    }

    template <class Flush>
    void finish(Flush&& flush) {
        if (count_ != 0) flush(starts_.data(), count_);
        count_ = 0;
    }

private:
    static constexpr std::size_t kCapacity = 256;
    std::array<std::uint64_t, kCapacity> starts_;
    std::size_t count_ = 0;
};

// Which amplitudes of a vector register of 2^width have every control below `width` set.
unsigned slots_with(std::uint64_t low_controls, unsigned width) {
    unsigned slots = 0;
    for (std::uint64_t slot = 0; slot < (std::uint64_t{1} << width); ++slot) {
        if ((slot & low_controls) == low_controls) slots |= 1u << slot;
    }
    return slots;
}

// `op`'s kernels of `family`, bound to the state and the gate's constants.
struct BoundOp {
    const KernelFamily& family;
    Complex* state;
    const PairOp& op;
    unsigned slots;

    Diagonal diagonal() const { return {op.m->m00, op.m->m11}; }

    void blocks(const std::uint64_t* starts, std::uint64_t count, std::uint64_t size,
                unsigned target) const {
        switch (op.kind) {
            case PairOp::Kind::kHadamard:
                return family.hadamard_blocks(state, starts, count, size, target);
            case PairOp::Kind::kDiagonal:
                return family.diagonal_blocks(state, starts, count, size, target, diagonal());
            case PairOp::Kind::kMatrix:
                return family.matrix_blocks(state, starts, count, size, target, *op.m, slots);
            case PairOp::Kind::kFlip:
                return family.flip_blocks(state, starts, count, size, target, slots);
        }
    }

    void runs(const std::uint64_t* starts, std::uint64_t count, std::uint64_t length,
              std::uint64_t half) const {
        switch (op.kind) {
            case PairOp::Kind::kHadamard:
                return family.hadamard_runs(state, starts, count, length, half);
            case PairOp::Kind::kDiagonal:
                return family.diagonal_runs(state, starts, count, length, half, diagonal());
            case PairOp::Kind::kMatrix:
                return family.matrix_runs(state, starts, count, length, half, *op.m, slots);
            case PairOp::Kind::kFlip:
                return family.flip_runs(state, starts, count, length, half, slots);
        }
    }
};

}  // namespace

void apply_pair_op(std::span<Complex> state, unsigned n, unsigned target, const PairOp& op,
                   const KernelFamily& family) {
    const std::uint64_t size = std::uint64_t{1} << n;
    if (state.size() < size) require_index_below(size - 1, state.size());  // the call only then
    const std::uint64_t whole[1] = {0};
    BoundOp{family, state.data(), op, kAllSlots}.blocks(whole, 1, size, target);
}

void apply_pair_op(std::span<Complex> state, unsigned n, const FixedBits& outside,
                   std::uint64_t controls, unsigned target, const PairOp& op,
                   const KernelFamily& family) {
    if (controls == 0 && outside.count() == 0) return apply_pair_op(state, n, target, op, family);
    const std::uint64_t whole[1] = {0};
    // Controls inside one vector register select its slots; the others select the places
    // the kernels visit.
    const unsigned width = family.vector_log2 < n ? family.vector_log2 : n;
    const std::uint64_t low_controls = controls & ((std::uint64_t{1} << width) - 1);
    const BoundOp kernels{family, state.data(), op, slots_with(low_controls, width)};
    // The working positions: every other control, with value 1.
    FixedBits fixed = outside;
    for (std::uint64_t rest = controls & ~low_controls; rest != 0; rest &= rest - 1) {
        fixed.add(static_cast<unsigned>(std::countr_zero(rest)), 1);
    }
    if (fixed.count() == 0) {
        require_index_below((std::uint64_t{1} << n) - 1, state.size());
        kernels.blocks(whole, 1, std::uint64_t{1} << n, target);
        return;
    }
    StartBatch batch;
    if (target < fixed.lowest()) {
        // Below every fixed position, each block of 2^(lowest) amplitudes with the fixed
        // bits in place holds whole pairs: the single-qubit kernel, shuffles and all,
        // applies as is.
        require_index_below(fixed.last_index(n), state.size());
        const std::uint64_t size = std::uint64_t{1} << fixed.lowest();
        const auto flush = [&](const std::uint64_t* starts, std::uint64_t count) {
            kernels.blocks(starts, count, size, target);
        };
        fixed.for_each_run(n, [&](std::uint64_t start) { batch.add(start, flush); });
        batch.finish(flush);
        return;
    }
    // Otherwise the pairs come in runs of 2^(lowest), the target bit above them.
    fixed.add(target, 0);
    const std::uint64_t half = std::uint64_t{1} << target;
    require_index_below(fixed.last_index(n) + half, state.size());
    const std::uint64_t length = std::uint64_t{1} << fixed.lowest();
    const auto flush = [&](const std::uint64_t* starts, std::uint64_t count) {
        kernels.runs(starts, count, length, half);
    };
    fixed.for_each_run(n, [&](std::uint64_t start) { batch.add(start, flush); });
    batch.finish(flush);
}

void apply_controlled(std::span<Complex> state, unsigned n, std::uint64_t controls, unsigned target,
                      const Matrix2& m, const KernelFamily& family) {
    apply_pair_op(state, n, FixedBits{}, controls, target, {PairOp::Kind::kMatrix, &m}, family);
}

}  // namespace qubit
