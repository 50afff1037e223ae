// The AVX-512 family: four amplitudes per 512-bit register. Built with -mavx512f and
// nothing else; runs only after kernel_dispatch.cpp has seen AVX-512F enabled. Everything
// here but the family table stays in the anonymous namespace, so no code compiled with
// these flags can stand in for a plain function at link time.
//
// A complex product m*a is (m.re, m.re) * (a.re, a.im) + (-m.im, m.im) * (a.im, a.re): the
// same four rounded products and the same two additions, operands in the same order, as
// mul(), NaNs included. Every addition and product whose operands may both be NaN goes
// through add_pd and mul_pd, which keep that order (complex.h says why).
//
// The last one to three amplitudes of a run go through masked loads and stores.

// GCC 12 takes the deliberately undefined pass-through operand inside its AVX-512
// intrinsics for an uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstddef>
#include <cstdint>
#include <limits>

#include "qubit/kernels/kernel_batches.h"
#include "qubit/kernels/kernels.h"
#include "qubit/kernels/prefetch_ahead.h"
#include "qubit/state/complex.h"

namespace qubit {
namespace {

// a * b and a + b, with a as the first operand: the compiler may not swap them.
__m512d mul_pd(__m512d a, __m512d b) {
    __m512d r;
    asm("vmulpd %2, %1, %0" : "=v"(r) : "v"(a), "vm"(b));
    return r;
}
__m512d add_pd(__m512d a, __m512d b) {
    __m512d r;
    asm("vaddpd %2, %1, %0" : "=v"(r) : "v"(a), "vm"(b));
    return r;
}

__m512d load(const Complex* p) { return _mm512_loadu_pd(&p->re); }
void store(Complex* p, __m512d x) { _mm512_storeu_pd(&p->re, x); }

// The first `count` (< 4) amplitudes.
__mmask8 first(std::uint64_t count) { return static_cast<__mmask8>((1u << (2 * count)) - 1); }
__m512d load(const Complex* p, __mmask8 mask) { return _mm512_maskz_loadu_pd(mask, &p->re); }
void store(Complex* p, __m512d x, __mmask8 mask) { _mm512_mask_storeu_pd(&p->re, mask, x); }

// Both doubles of every slot s whose bit is set in `slots`.
__mmask8 doubles_of(unsigned slots) {
    unsigned mask = 0;
    for (unsigned slot = 0; slot < 4; ++slot) {
        if ((slots >> slot) & 1) mask |= 3u << (2 * slot);
    }
    return static_cast<__mmask8>(mask);
}

// A complex factor per amplitude slot: `first` where bit s of `pattern` is 0, else `second`.
// Built in registers, not loaded from a local array: the compiler loads such an array with
// an aligned load, and AddressSanitizer's fake stack frames need not be 64-byte aligned.
struct Factor {
    __m512d re, im;  // im holds -f.im in the real slots

    explicit Factor(Complex both) : Factor(both, both, 0) {}
    Factor(Complex first, Complex second, unsigned pattern) {
        const __mmask8 seconds = doubles_of(pattern);
        re = _mm512_mask_blend_pd(seconds, _mm512_set1_pd(first.re), _mm512_set1_pd(second.re));
        const __m512d parts =
            _mm512_mask_blend_pd(seconds, _mm512_set1_pd(first.im), _mm512_set1_pd(second.im));
        // Negation is a flip of the sign bit, here in the real slots (the even doubles).
        const std::int64_t sign = std::numeric_limits<std::int64_t>::min();
        const __m512i real_signs = _mm512_set_epi64(0, sign, 0, sign, 0, sign, 0, sign);
        im = _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(parts), real_signs));
    }

    __m512d times(__m512d x) const {
        const __m512d swapped = _mm512_permute_pd(x, 0b01010101);
        return add_pd(mul_pd(re, x), mul_pd(im, swapped));
    }
};

// Targets 0 and 1: both amplitudes of a pair sit in one register. Slot s holds the one
// whose target bit is bit t of s; these broadcast each slot's a0 or a1 (128-bit lanes).
// A register holds four amplitudes, one per 128-bit lane, [ s0 | s1 | s2 | s3 ]:
//   target 0, pairs (s0, s1) and (s2, s3):  a0s [ s0 | s0 | s2 | s2 ]  a1s [ s1 | s1 | s3 | s3 ]
//   target 1, pairs (s0, s2) and (s1, s3):  a0s [ s0 | s1 | s0 | s1 ]  a1s [ s2 | s3 | s2 | s3 ]
// (_MM_SHUFFLE(d, c, b, a) names the source lanes of result lanes 3, 2, 1, 0.)
constexpr int kA0Lanes[2] = {_MM_SHUFFLE(2, 2, 0, 0), _MM_SHUFFLE(1, 0, 1, 0)};
constexpr int kA1Lanes[2] = {_MM_SHUFFLE(3, 3, 1, 1), _MM_SHUFFLE(3, 2, 3, 2)};
constexpr unsigned kA1Slots[2] = {0b1010, 0b1100};
constexpr __mmask8 kA1Doubles[2] = {0b11001100, 0b11110000};

// Two registers x, y hold four pairs; these gather the a0s (or a1s) of both into one
// register, x's in its low half and y's in its high half (result lanes 0 and 1 come from x,
// 2 and 3 from y):
//   target 0:  a0 [ x0 | x2 | y0 | y2 ]  a1 [ x1 | x3 | y1 | y3 ]
//   target 1:  a0 [ x0 | x1 | y0 | y1 ]  a1 [ x2 | x3 | y2 | y3 ]
constexpr int kGatherA0[2] = {_MM_SHUFFLE(2, 0, 2, 0), _MM_SHUFFLE(1, 0, 1, 0)};
constexpr int kGatherA1[2] = {_MM_SHUFFLE(3, 1, 3, 1), _MM_SHUFFLE(3, 2, 3, 2)};

// And back: the doubles of x (half 0) or y (half 1), drawn from the gathered a0s (indices
// 0-7) and a1s (8-15), two doubles (one amplitude) a lane:
//   target 0:  x [ a0.0 | a1.0 | a0.1 | a1.1 ]  y [ a0.2 | a1.2 | a0.3 | a1.3 ]
//   target 1:  x [ a0.0 | a0.1 | a1.0 | a1.1 ]  y [ a0.2 | a0.3 | a1.2 | a1.3 ]
template <int kTarget, int kHalf>
__m512i scatter_index() {
    constexpr int h = 4 * kHalf;  // the first double of the half's a0s and a1s
    if constexpr (kTarget == 0) {
        return _mm512_setr_epi64(h, h + 1, h + 8, h + 9, h + 2, h + 3, h + 10, h + 11);
    } else {
        return _mm512_setr_epi64(h, h + 1, h + 2, h + 3, h + 8, h + 9, h + 10, h + 11);
    }
}

// The lane pattern goes through a constexpr variable: unoptimised, GCC does not fold an
// array element into the instruction's immediate operand.
template <int kTarget>
__m512d all_a0(__m512d x) {
    constexpr int kLanes = kA0Lanes[kTarget];
    return _mm512_shuffle_f64x2(x, x, kLanes);
}

template <int kTarget>
__m512d all_a1(__m512d x) {
    constexpr int kLanes = kA1Lanes[kTarget];
    return _mm512_shuffle_f64x2(x, x, kLanes);
}

// kMasked: only the slots in `slots` take the new values (a control inside the register).
template <bool kMasked>
struct SlotPick {
    __mmask8 changes;  // the doubles of the slots that change

    explicit SlotPick(unsigned slots) : changes(doubles_of(slots)) {}

    __m512d pick(__m512d old_value, __m512d new_value) const {
        if constexpr (kMasked) return _mm512_mask_blend_pd(changes, old_value, new_value);
        return new_value;
    }
};

// A control inside the register that leaves two of its four slots to change (qubit 0 or
// qubit 1): the changing slots of two registers x, y fill one, so a matrix does its products
// once for eight amplitudes rather than twice, on the same pairs in the same lanes.
struct HalfSlots {
    bool usable = false;
    __m512i gather;   // the changing doubles of x (indices 0-7), then those of y (8-15)
    __m512i back[2];  // for each changing double of x (of y), its place in the gathered one

    explicit HalfSlots(__mmask8 changes) {
        if (__builtin_popcount(changes) != 4) return;
        std::int64_t from[8], to_x[8] = {}, to_y[8] = {};
        std::int64_t taken = 0;
        for (std::int64_t d = 0; d < 8; ++d) {
            if (((changes >> d) & 1) == 0) continue;
            from[taken] = d;
            from[taken + 4] = d + 8;
            to_x[d] = taken;
            to_y[d] = taken + 4;
            ++taken;
        }
        gather = _mm512_loadu_si512(from);
        back[0] = _mm512_loadu_si512(to_x);
        back[1] = _mm512_loadu_si512(to_y);
        usable = true;
    }
};

template <bool kMasked, int kRealColumns>
struct MatrixOp : SlotPick<kMasked> {
    static_assert(kRealColumns == -1);  // no real form (kernel_batches.h) in this family yet
    Factor m00, m01, m10, m11;
    Factor on_a0[2], on_a1[2];  // (m00 | m10) and (m01 | m11) by slot, per in-register target
    HalfSlots halves;

    MatrixOp(const Matrix2& m, unsigned slots)
        : SlotPick<kMasked>(slots),
          m00(m.m00),
          m01(m.m01),
          m10(m.m10),
          m11(m.m11),
          on_a0{{m.m00, m.m10, kA1Slots[0]}, {m.m00, m.m10, kA1Slots[1]}},
          on_a1{{m.m01, m.m11, kA1Slots[0]}, {m.m01, m.m11, kA1Slots[1]}},
          halves(kMasked ? this->changes : __mmask8{0xFF}) {}

    void pair(__m512d& lo, __m512d& hi) const {
        const __m512d a0 = lo, a1 = hi;
        pair_unmasked(lo, hi);
        lo = this->pick(a0, lo);
        hi = this->pick(a1, hi);
    }
    template <int kTarget>
    __m512d in_register(__m512d x) const {
        return this->pick(x, add_pd(on_a0[kTarget].times(all_a0<kTarget>(x)),
                                    on_a1[kTarget].times(all_a1<kTarget>(x))));
    }
    // Two registers at once: their a0s gathered into one register and their a1s into another
    // take the pair path's arithmetic, and go back in place. Six shuffles for eight
    // amplitudes instead of eight: the products and sums are the same.
    template <int kTarget>
    void in_registers(__m512d& x, __m512d& y) const {
        constexpr int kA0 = kGatherA0[kTarget], kA1 = kGatherA1[kTarget];  // see all_a0
        __m512d a0 = _mm512_shuffle_f64x2(x, y, kA0);
        __m512d a1 = _mm512_shuffle_f64x2(x, y, kA1);
        pair_unmasked(a0, a1);
        x = this->pick(x, _mm512_permutex2var_pd(a0, scatter_index<kTarget, 0>(), a1));
        y = this->pick(y, _mm512_permutex2var_pd(a0, scatter_index<kTarget, 1>(), a1));
    }

    // Two pairs of registers at once, (lo0, hi0) and (lo1, hi1), where `halves` is usable:
    // never without a mask, which the compiler then knows before a run starts.
    bool pairs_fit() const { return kMasked && halves.usable; }
    void pairs(__m512d& lo0, __m512d& hi0, __m512d& lo1, __m512d& hi1) const {
        __m512d a0 = _mm512_permutex2var_pd(lo0, halves.gather, lo1);
        __m512d a1 = _mm512_permutex2var_pd(hi0, halves.gather, hi1);
        pair_unmasked(a0, a1);
        lo0 = _mm512_mask_permutexvar_pd(lo0, this->changes, halves.back[0], a0);
        lo1 = _mm512_mask_permutexvar_pd(lo1, this->changes, halves.back[1], a0);
        hi0 = _mm512_mask_permutexvar_pd(hi0, this->changes, halves.back[0], a1);
        hi1 = _mm512_mask_permutexvar_pd(hi1, this->changes, halves.back[1], a1);
    }

private:
    // The pair path's arithmetic, shared by every form above.
    void pair_unmasked(__m512d& lo, __m512d& hi) const {
        const __m512d a0 = lo, a1 = hi;
        lo = add_pd(m00.times(a0), m01.times(a1));
        hi = add_pd(m10.times(a0), m11.times(a1));
    }
};

// Each slot's partner across target 0 or 1 (128-bit lanes):
//   target 0:  [ s1 | s0 | s3 | s2 ]    target 1:  [ s2 | s3 | s0 | s1 ]
constexpr int kPartnerLanes[2] = {_MM_SHUFFLE(2, 3, 0, 1), _MM_SHUFFLE(1, 0, 3, 2)};

template <bool kMasked>
struct FlipOp : SlotPick<kMasked> {
    explicit FlipOp(unsigned slots) : SlotPick<kMasked>(slots) {}

    void pair(__m512d& lo, __m512d& hi) const {
        const __m512d a0 = lo;
        lo = this->pick(a0, hi);
        hi = this->pick(hi, a0);
    }
    template <int kTarget>
    __m512d in_register(__m512d x) const {
        constexpr int kLanes = kPartnerLanes[kTarget];
        return this->pick(x, _mm512_shuffle_f64x2(x, x, kLanes));
    }
};

struct DiagonalOp {
    Factor p0, p1;
    Factor both[2];

    explicit DiagonalOp(const Diagonal& d)
        : p0(d.p0), p1(d.p1), both{{d.p0, d.p1, kA1Slots[0]}, {d.p0, d.p1, kA1Slots[1]}} {}

    void pair(__m512d& lo, __m512d& hi) const {
        lo = p0.times(lo);
        hi = p1.times(hi);
    }
    template <int kTarget>
    __m512d in_register(__m512d x) const {
        return both[kTarget].times(x);
    }
};

struct HadamardOp {
    __m512d k = _mm512_set1_pd(kHadamard);

    void pair(__m512d& lo, __m512d& hi) const {
        const __m512d a0 = lo, a1 = hi;
        lo = _mm512_mul_pd(add_pd(a0, a1), k);
        hi = _mm512_mul_pd(_mm512_sub_pd(a0, a1), k);
    }
    template <int kTarget>
    __m512d in_register(__m512d x) const {
        const __m512d a0 = all_a0<kTarget>(x), a1 = all_a1<kTarget>(x);
        // The sum to the slots of a0, the difference to those of a1.
        const __m512d sum = add_pd(a0, a1);
        return _mm512_mul_pd(_mm512_mask_sub_pd(sum, kA1Doubles[kTarget], a0, a1), k);
    }
};

// One pass over pairs, the same for every op; the batching around it is shared. Prefetching
// is the only difference between the two instances.
template <bool kPrefetch>
struct Lanes {
    static constexpr unsigned kLog2 = 2;
    static constexpr bool kRealForms = false;
    static constexpr std::uint64_t kTwoStreamsFrom = 4096;  // amplitudes

    template <class Op>
    static void run(Complex* lo, Complex* hi, std::uint64_t length, const Op& op) {
        std::uint64_t i = 0;
        if constexpr (requires { op.pairs_fit(); }) {
            if (op.pairs_fit()) {
                for (; i + 8 <= length; i += 8) {
                    if constexpr (kPrefetch) {
                        prefetch_ahead(lo + i);
                        prefetch_ahead(lo + i + 4);
                        prefetch_ahead(hi + i);
                        prefetch_ahead(hi + i + 4);
                    }
                    __m512d a0 = load(lo + i), a1 = load(hi + i);
                    __m512d b0 = load(lo + i + 4), b1 = load(hi + i + 4);
                    op.pairs(a0, a1, b0, b1);
                    store(lo + i, a0);
                    store(hi + i, a1);
                    store(lo + i + 4, b0);
                    store(hi + i + 4, b1);
                }
            }
        }
        for (; i + 4 <= length; i += 4) {
            if constexpr (kPrefetch) prefetch_ahead(lo + i);
            if constexpr (kPrefetch) prefetch_ahead(hi + i);
            __m512d a0 = load(lo + i), a1 = load(hi + i);
            op.pair(a0, a1);
            store(lo + i, a0);
            store(hi + i, a1);
        }
        if (i < length) {
            const __mmask8 mask = first(length - i);
            __m512d a0 = load(lo + i, mask), a1 = load(hi + i, mask);
            op.pair(a0, a1);
            store(lo + i, a0, mask);
            store(hi + i, a1, mask);
        }
    }

    // Eight amplitudes from p, two registers: in one go where the op has a form for two.
    template <int kTarget, class Op>
    static void in_registers_step(Complex* p, const Op& op) {
        if constexpr (kPrefetch) {
            prefetch_ahead(p);
            prefetch_ahead(p + 4);
        }
        __m512d x = load(p), y = load(p + 4);
        if constexpr (requires { op.template in_registers<kTarget>(x, y); }) {
            op.template in_registers<kTarget>(x, y);
        } else {
            x = op.template in_register<kTarget>(x);
            y = op.template in_register<kTarget>(y);
        }
        store(p, x);
        store(p + 4, y);
    }

    template <int kTarget, class Op>
    static void in_registers(Complex* first_amplitude, std::uint64_t size, const Op& op) {
        Complex* const p = first_amplitude;
        std::uint64_t i = 0;
        if (kPrefetch && size >= kTwoStreamsFrom && size % 16 == 0) {
            // A pass over memory from one place keeps too few reads in flight: Rx at qubit 0
            // ran a fifth slower than at a middle qubit, whose pairs come from two places. So
            // the two halves of a large block go side by side.
            const std::uint64_t half = size / 2;
            for (; i < half; i += 8) {
                in_registers_step<kTarget>(p + i, op);
                in_registers_step<kTarget>(p + half + i, op);
            }
            return;
        }
        for (; i + 8 <= size; i += 8) in_registers_step<kTarget>(p + i, op);
        if (i + 4 <= size) {
            store(p + i, op.template in_register<kTarget>(load(p + i)));
            i += 4;
        }
        if (i < size) {  // a block of one pair, target 0
            store(p + i, op.template in_register<kTarget>(load(p + i, first(2))), first(2));
        }
    }

    template <class Op>
    static void block(Complex* first_amplitude, std::uint64_t size, unsigned target, const Op& op) {
        if (target == 0) return in_registers<0>(first_amplitude, size, op);
        if (target == 1) return in_registers<1>(first_amplitude, size, op);
        const std::uint64_t half = std::uint64_t{1} << target;
        for (std::uint64_t base = 0; base < size; base += 2 * half) {
            run(first_amplitude + base, first_amplitude + base + half, half, op);
        }
    }
};

template <bool kPrefetch>
using Batches = KernelBatches<Lanes<kPrefetch>, MatrixOp, FlipOp, DiagonalOp, HadamardOp>;

constinit const KernelFamily kWithoutPrefetch =
    Batches<false>::family("avx512", false, &kWithoutPrefetch);

}  // namespace

constinit const KernelFamily kAvx512Kernels =
    Batches<true>::family("avx512", true, &kWithoutPrefetch);

}  // namespace qubit
