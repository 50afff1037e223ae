#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "qubit/controlled_kernel.h"
#include "qubit/index_runs.h"
#include "qubit/kernels.h"
#include "qubit/register.h"

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

}  // namespace

void apply_controlled(std::span<Complex> state, unsigned n, std::uint64_t controls, unsigned target,
                      const Matrix2& m, const KernelFamily& family) {
    Complex* const amplitudes = state.data();
    // Controls inside one vector register select its slots; the others select the places
    // the kernels visit.
    const unsigned width = family.vector_log2 < n ? family.vector_log2 : n;
    const std::uint64_t low_controls = controls & ((std::uint64_t{1} << width) - 1);
    const unsigned slots = slots_with(low_controls, width);
    // The working positions: every other control, with value 1, in ascending order.
    FixedBits fixed;
    for (std::uint64_t rest = controls & ~low_controls; rest != 0; rest &= rest - 1) {
        fixed.add(static_cast<unsigned>(std::countr_zero(rest)), 1);
    }
    if (fixed.count() == 0) {
        require_index_below((std::uint64_t{1} << n) - 1, state.size());
        const std::uint64_t whole[1] = {0};
        family.matrix_blocks(amplitudes, whole, 1, std::uint64_t{1} << n, target, m, slots);
        return;
    }
    StartBatch batch;
    if (target < fixed.lowest()) {
        // Below every such control, each block of 2^(lowest control) amplitudes with all
        // controls set holds whole pairs: the single-qubit kernel, shuffles and all,
        // applies as is.
        require_index_below(fixed.last_index(n), state.size());
        const std::uint64_t size = std::uint64_t{1} << fixed.lowest();
        const auto flush = [&](const std::uint64_t* starts, std::uint64_t count) {
            family.matrix_blocks(amplitudes, starts, count, size, target, m, slots);
        };
        fixed.for_each_run(n, [&](std::uint64_t start) { batch.add(start, flush); });
        batch.finish(flush);
        return;
    }
    // Otherwise the pairs come in runs of 2^(lowest control), the target bit above them.
    fixed.add(target, 0);
    const std::uint64_t half = std::uint64_t{1} << target;
    require_index_below(fixed.last_index(n) + half, state.size());
    const std::uint64_t length = std::uint64_t{1} << fixed.lowest();
    const auto flush = [&](const std::uint64_t* starts, std::uint64_t count) {
        family.matrix_runs(amplitudes, starts, count, length, half, m, slots);
    };
    fixed.for_each_run(n, [&](std::uint64_t start) { batch.add(start, flush); });
    batch.finish(flush);
}

GateResult QuantumRegister::MCU(Qubits control, std::uint64_t target, Complex u00, Complex u01,
                                Complex u10, Complex u11) {
    if (target >= n_) return Failure{"..."};
    std::uint64_t controls = 0;  // n <= kMaxQubits, so every valid qubit has a bit here
    for (const std::uint64_t c : control) {
        if (c >= n_ || c == target) return Failure{"..."};
        const std::uint64_t bit = std::uint64_t{1} << c;
        if ((controls & bit) != 0) return Failure{"..."};  // listed twice
        controls |= bit;
    }
    apply_controlled(state(), n_, controls, target, {u00, u01, u10, u11}, active_kernels());
    return done();
}

}  // namespace qubit
