// The batched entry points of a kernel family (kernels.h), made from the family's own loops.
//
// A family file defines, in its anonymous namespace, a `Lanes` type with
//   static constexpr unsigned kLog2;  // a vector register holds 2^kLog2 amplitudes
//   template <class Op> static void run(Complex* lo, Complex* hi, std::uint64_t length, const Op&);
//   template <class Op> static void block(Complex* first, std::uint64_t size, unsigned target,
//                                         const Op&);
// and the ops MatrixOp<kMasked, kRealColumns>{m, slots}, FlipOp<kMasked>{slots}, DiagonalOp{d}
// and HadamardOp{}. Everything made from them here is local to that file, so no code built
// for its instruction set can stand in for another family's at link time.
//
// A family with a cheaper form for matrices whose imaginary parts are all zeros, as Ry's,
// sets Lanes::kRealForms; its MatrixOp then takes the matrix's real_columns() as
// kRealColumns, and -1 for any other matrix. The other families only ever see -1.
#pragma once

#include <cstdint>

#include "qubit/kernels/kernels.h"
#include "qubit/kernels/staged_partners.h"
#include "qubit/state/complex.h"

namespace qubit {

template <class Lanes, template <bool, int> class MatrixOp, template <bool> class FlipOp,
          class DiagonalOp, class HadamardOp>
struct KernelBatches {
    // -1 unless all four imaginary parts of `m` are zeros; then bit j is set where the two
    // zeros of column j differ in sign.
    static int real_columns(const Matrix2& m) {
        if (m.m00.im != 0.0 || m.m01.im != 0.0 || m.m10.im != 0.0 || m.m11.im != 0.0) return -1;
        // 1/-0 is -inf: std::signbit would be a call the vector files must not make.
        const auto differ = [](double zero0, double zero1) {
            return (1.0 / zero0 < 0.0) != (1.0 / zero1 < 0.0);
        };
        return int(differ(m.m00.im, m.m10.im)) | int(differ(m.m01.im, m.m11.im)) << 1;
    }
    template <int kRealColumns>
    struct MatrixOpFor {
        template <bool kMasked>
        using Op = MatrixOp<kMasked, kRealColumns>;
    };

    // Calls run.template operator()<Op>() with the MatrixOp form for `m`.
    template <class Run>
    static void with_matrix_op(const Matrix2& m, Run run) {
        if constexpr (Lanes::kRealForms) {
            switch (real_columns(m)) {
                case 0:
                    return run.template operator()<MatrixOpFor<0>::template Op>();
                case 1:
                    return run.template operator()<MatrixOpFor<1>::template Op>();
                case 2:
                    return run.template operator()<MatrixOpFor<2>::template Op>();
                case 3:
                    return run.template operator()<MatrixOpFor<3>::template Op>();
                default:
                    break;
            }
        }
        run.template operator()<MatrixOpFor<-1>::template Op>();
    }

    // Everything below an entry point is inlined into it: left to itself, the compiler puts
    // some of the many small functions of a family's ops out of line, and a loop that calls
    // one per register, or a run of known length that no longer knows it, runs at half speed.
    template <class Op, class... Args>
    [[gnu::flatten]] static void blocks(Complex* state, const std::uint64_t* starts,
                                        std::uint64_t count, std::uint64_t size, unsigned target,
                                        const Args&... args) {
        const Op op{args...};
        // A register's slots count from a block's start, and from a run's: they agree where
        // a block's runs are whole registers.
        const std::uint64_t half = std::uint64_t{1} << target;
        if (target >= Lanes::kLog2 && half >= staged_partner_half()) {
            const auto bases = [&](auto&& visit) {
                for (std::uint64_t i = 0; i < count; ++i) {
                    for (std::uint64_t base = starts[i]; base < starts[i] + size; base += 2 * half)
                        visit(base);
                }
            };
            return run_staged(state, half, half, bases, staged_work(op));
        }
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
    [[gnu::flatten]] static void runs_of(Complex* state, const std::uint64_t* starts,
                                         std::uint64_t count, std::uint64_t length,
                                         std::uint64_t half, const Op& op) {
        if constexpr (kLength != 0) length = kLength;
        if (half >= staged_partner_half()) {
            const auto each_start = [&](auto&& visit) {
                for (std::uint64_t i = 0; i < count; ++i) visit(starts[i]);
            };
            return run_staged(state, length, half, each_start, staged_work(op));
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            Lanes::run(state + starts[i], state + starts[i] + half, length, op);
        }
    }

    // Lanes::run on a run and its far partners staged in a buffer (staged_partners.h).
    template <class Op>
    static auto staged_work(const Op& op) {
        return [&op](Complex* near, Complex* staged, std::uint64_t length) {
            Lanes::run(near, staged, length, op);
        };
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
        with_matrix_op(m, [&]<template <bool> class Op>() {
            masked_blocks<Op>(state, starts, count, size, target, slots, m);
        });
    }

    static void matrix_runs(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                            std::uint64_t length, std::uint64_t half, const Matrix2& m,
                            unsigned slots) {
        with_matrix_op(m, [&]<template <bool> class Op>() {
            masked_runs<Op>(state, starts, count, length, half, slots, m);
        });
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
                                         const KernelFamily* without_prefetch) noexcept {
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
                without_prefetch};
    }
};

}  // namespace qubit
