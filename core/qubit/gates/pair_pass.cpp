#include "qubit/gates/pair_pass.h"

#include <array>
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

// Where a pair op works among the basis states whose qubits in `outside` hold its values:
// blocks holding whole target pairs, or runs whose partners lie `half` above; the starts are
// the runs of `fixed`, and `slots` the register slots that the controls inside one vector
// register leave to the kernel.
struct PairLayout {
    FixedBits fixed;
    bool runs;
    unsigned slots;
    std::uint64_t extent;  // a block's amplitudes, or a run's pairs
    std::uint64_t half;

    // The largest index the kernels touch.
    std::uint64_t last_index(unsigned n) const { return fixed.last_index(n) + (runs ? half : 0); }

    template <class Visit>
    void for_each_start(unsigned n, Visit&& visit) const {
        if (fixed.count() == 0) return visit(std::uint64_t{0});
        fixed.for_each_run(n, visit);
    }
};

PairLayout pair_layout(unsigned n, const FixedBits& outside, std::uint64_t controls,
                       unsigned target, unsigned vector_log2) {
    // Controls inside one vector register select its slots; the others select the places
    // the kernels visit.
    const unsigned width = vector_log2 < n ? vector_log2 : n;
    const std::uint64_t low_controls = controls & ((std::uint64_t{1} << width) - 1);
    PairLayout layout{outside, false, slots_with(low_controls, width), std::uint64_t{1} << n, 0};
    // The working positions: every other control, with value 1.
    layout.fixed.add_each(controls & ~low_controls, ~std::uint64_t{0});
    if (layout.fixed.count() == 0) return layout;  // one block: the whole state
    if (target < layout.fixed.lowest()) {
        // Below every fixed position, each block of 2^(lowest) amplitudes with the fixed
        // bits in place holds whole pairs: the single-qubit kernel, shuffles and all,
        // applies as is.
        layout.extent = std::uint64_t{1} << layout.fixed.lowest();
        return layout;
    }
    // Otherwise the pairs come in runs of 2^(lowest), the target bit above them.
    layout.fixed.add(target, 0);
    layout.runs = true;
    layout.half = std::uint64_t{1} << target;
    layout.extent = std::uint64_t{1} << layout.fixed.lowest();
    return layout;
}

void run_batch(const BoundOp& kernels, const PairLayout& layout, unsigned target,
               const std::uint64_t* starts, std::uint64_t count) {
    if (layout.runs) return kernels.runs(starts, count, layout.extent, layout.half);
    kernels.blocks(starts, count, layout.extent, target);
}

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
    const PairLayout layout = pair_layout(n, outside, controls, target, family.vector_log2);
    require_index_below(layout.last_index(n), state.size());
    const BoundOp kernels{family, state.data(), op, layout.slots};
    const auto flush = [&](const std::uint64_t* starts, std::uint64_t count) {
        run_batch(kernels, layout, target, starts, count);
    };
    StartBatch batch;
    layout.for_each_start(n, [&](std::uint64_t start) { batch.add(start, flush); });
    batch.finish(flush);
}

bool place_pair_op(std::uint64_t state_size, unsigned n, std::uint64_t part_mask,
                   std::uint64_t controls, unsigned target, const PairOp& op,
                   const KernelFamily& family, std::span<std::uint64_t> room,
                   PlacedPairOp& placed) {
    FixedBits part;  // the part's qubits, at 0: starts relative to the part's base
    part.add_each(part_mask, 0);
    const PairLayout layout = pair_layout(n, part, controls, target, family.vector_log2);
    std::size_t count = 0;
    layout.for_each_start(n, [&](std::uint64_t start) {
        if (count < room.size()) room[count] = start;
        ++count;
    });
    if (count > room.size()) return false;
    // The largest base holds every qubit of the part at 1, bits the starts leave clear.
    require_index_below(layout.last_index(n) | part_mask, state_size);
    placed = {op,          layout.slots, layout.runs, target, layout.extent,
              layout.half, room.data(),  count};
    return true;
}

void run_placed(Complex* part_base, const PlacedPairOp& placed, const KernelFamily& family) {
    const BoundOp kernels{family, part_base, placed.op, placed.slots};
    if (placed.runs) return kernels.runs(placed.starts, placed.count, placed.extent, placed.half);
    kernels.blocks(placed.starts, placed.count, placed.extent, placed.target);
}

}  // namespace qubit
