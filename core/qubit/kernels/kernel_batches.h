// The batched entry points of a kernel family (kernels.h), made from the family's own loops.
//
// A family file defines, in its anonymous namespace, a `Lanes` type with
//   static constexpr unsigned kLog2;  // a vector register holds 2^kLog2 amplitudes
//   template <class Op> static void run(Complex* lo, Complex* hi, std::uint64_t length, const Op&);
//   template <class Op> static void block(Complex* first, std::uint64_t size, unsigned target,
//                                         const Op&);
// and the ops MatrixOp<kMasked>{m, slots}, FlipOp<kMasked>{slots}, DiagonalOp{d} and
// HadamardOp{}. Everything made from them here is local to that file, so no code built for
// its instruction set can stand in for another family's at link time.
#pragma once

#include <cstdint>

#include "qubit/kernels/kernels.h"
#include "qubit/register/complex.h"

namespace qubit {

template <class Lanes, template <bool> class MatrixOp, template <bool> class FlipOp,
          class DiagonalOp, class HadamardOp>
struct KernelBatches {
    template <class Op, class... Args>
    static void blocks(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                       std::uint64_t size, unsigned target, const Args&... args) {
        const Op op{args...};
        for (std::uint64_t i = 0; i < count; ++i) Lanes::block(state + starts[i], size, target, op);
    }

    template <class Op, class... Args>
    static void runs(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                     std::uint64_t length, std::uint64_t half, const Args&... args) {
        const Op op{args...};
        // Runs of one or two registers come of a control just above the register's width,
        // and by the hundred: with the length known here, the loop's tests drop out of them.
        constexpr std::uint64_t kRegister = std::uint64_t{1} << Lanes::kLog2;
        if (length == kRegister) return runs_of<kRegister>(state, starts, count, length, half, op);
        if (length == 2 * kRegister) {
            return runs_of<2 * kRegister>(state, starts, count, length, half, op);
        }
        runs_of<0>(state, starts, count, length, half, op);
    }

    // kLength: the runs' length known when compiled; 0, `length` at run time.
    template <std::uint64_t kLength, class Op>
    static void runs_of(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                        std::uint64_t length, std::uint64_t half, const Op& op) {
        if constexpr (kLength != 0) length = kLength;
        for (std::uint64_t i = 0; i < count; ++i) {
            Lanes::run(state + starts[i], state + starts[i] + half, length, op);
        }
    }

    // The slots of one register; a mask with all of them needs no blending, one with none of
    // them changes nothing.
    static constexpr unsigned kEverySlot = (1u << (1u << Lanes::kLog2)) - 1;

    template <template <bool> class Op, class... Args>
    static void masked_blocks(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                              std::uint64_t size, unsigned target, unsigned slots,
                              const Args&... args) {
        slots &= kEverySlot;
        if (slots == kEverySlot) {
            blocks<Op<false>>(state, starts, count, size, target, args..., slots);
        } else if constexpr (kEverySlot != 1) {
            if (slots != 0) blocks<Op<true>>(state, starts, count, size, target, args..., slots);
        }
    }

    template <template <bool> class Op, class... Args>
    static void masked_runs(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                            std::uint64_t length, std::uint64_t half, unsigned slots,
                            const Args&... args) {
        slots &= kEverySlot;
        if (slots == kEverySlot) {
            runs<Op<false>>(state, starts, count, length, half, args..., slots);
        } else if constexpr (kEverySlot != 1) {
            if (slots != 0) runs<Op<true>>(state, starts, count, length, half, args..., slots);
        }
    }

    static void matrix_blocks(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                              std::uint64_t size, unsigned target, const Matrix2& m,
                              unsigned slots) {
        masked_blocks<MatrixOp>(state, starts, count, size, target, slots, m);
    }

    static void matrix_runs(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                            std::uint64_t length, std::uint64_t half, const Matrix2& m,
                            unsigned slots) {
        masked_runs<MatrixOp>(state, starts, count, length, half, slots, m);
    }

    static void flip_blocks(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                            std::uint64_t size, unsigned target, unsigned slots) {
        masked_blocks<FlipOp>(state, starts, count, size, target, slots);
    }

    static void flip_runs(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                          std::uint64_t length, std::uint64_t half, unsigned slots) {
        masked_runs<FlipOp>(state, starts, count, length, half, slots);
    }

    static constexpr KernelFamily family(const char* name, bool prefetches,
                                         const KernelFamily* in_cache) noexcept {
        return {name,
                Lanes::kLog2,
                matrix_blocks,
                matrix_runs,
                blocks<DiagonalOp, Diagonal>,
                runs<DiagonalOp, Diagonal>,
                blocks<HadamardOp>,
                runs<HadamardOp>,
                flip_blocks,
                flip_runs,
                prefetches,
                in_cache};
    }
};

}  // namespace qubit
