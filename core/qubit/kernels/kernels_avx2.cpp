// The AVX2 family: two amplitudes per 256-bit register. Built with -mavx2 and nothing
// else; runs only after kernel_dispatch.cpp has seen AVX2 enabled. Everything here but the
// family table stays in the anonymous namespace, so no code compiled with these flags can
// stand in for a plain function at link time.
//
// A complex product m*a is (m.re, m.re) * (a.re, a.im) + (-m.im, m.im) * (a.im, a.re): the
// same four rounded products and the same two additions, operands in the same order, as
// mul(). Every addition and product whose operands may both be NaN goes through add_pd and
// mul_pd, which keep that order (complex.h says why).
#include <immintrin.h>

#include <cstdint>

#include "qubit/kernels/kernel_batches.h"
#include "qubit/kernels/kernels.h"
#include "qubit/kernels/prefetch_ahead.h"
#include "qubit/state/complex.h"

namespace qubit {
namespace {

// a * b and a + b, with a as the first operand: the compiler may not swap them. For the
// 256-bit and the 128-bit registers alike.
template <class Vector>
Vector mul_pd(Vector a, Vector b) {
    Vector r;
    asm("vmulpd %2, %1, %0" : "=x"(r) : "x"(a), "xm"(b));
    return r;
}
template <class Vector>
Vector add_pd(Vector a, Vector b) {
    Vector r;
    asm("vaddpd %2, %1, %0" : "=x"(r) : "x"(a), "xm"(b));
    return r;
}
template <class Vector>
Vector sub_pd(Vector a, Vector b) {
    Vector r;
    asm("vsubpd %2, %1, %0" : "=x"(r) : "x"(a), "xm"(b));
    return r;
}

__m256d load(const Complex* p) { return _mm256_loadu_pd(&p->re); }
void store(Complex* p, __m256d x) { _mm256_storeu_pd(&p->re, x); }
__m128d load1(const Complex* p) { return _mm_loadu_pd(&p->re); }
void store1(Complex* p, __m128d x) { _mm_storeu_pd(&p->re, x); }

// The amplitudes at p + 1 and p + 3, slot 1 of two registers, as one register; and back.
__m256d odd_slots(const Complex* p) {
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(load1(p + 1)), load1(p + 3), 1);
}
void store_odd_slots(Complex* p, __m256d x) {
    store1(p + 1, _mm256_castpd256_pd128(x));
    store1(p + 3, _mm256_extractf128_pd(x, 1));
}

// A complex factor spread over a register: `first` for amplitude slot 0, `second` for 1.
struct Factor {
    __m256d re, im;  // im holds -f.im in the real slots

    explicit Factor(Complex both) : Factor(both, both) {}
    Factor(Complex first, Complex second)
        : re(_mm256_setr_pd(first.re, first.re, second.re, second.re)),
          im(_mm256_setr_pd(-first.im, first.im, -second.im, second.im)) {}

    __m256d times(__m256d x) const { return add_pd(real_part(x), imaginary_part(x)); }
    // The two products of times().
    __m256d real_part(__m256d x) const { return mul_pd(re, x); }
    __m256d imaginary_part(__m256d x) const { return mul_pd(im, _mm256_permute_pd(x, 0b0101)); }
};

// The same for one amplitude, at the odd end of a run.
struct Factor1 {
    __m128d re, im;

    explicit Factor1(Complex f) : re(_mm_set1_pd(f.re)), im(_mm_setr_pd(-f.im, f.im)) {}

    __m128d times(__m128d x) const {
        const __m128d swapped = _mm_permute_pd(x, 0b01);
        return add_pd(mul_pd(re, x), mul_pd(im, swapped));
    }
};

// Target 0: one register holds one whole pair; these broadcast its a0 or its a1.
__m256d both_a0(__m256d x) { return _mm256_permute2f128_pd(x, x, 0x00); }
__m256d both_a1(__m256d x) { return _mm256_permute2f128_pd(x, x, 0x11); }

// kMasked: only the slots in `slots` take the new values (a control inside the register).
template <bool kMasked>
struct SlotPick {
    __m256d changes;  // all ones in the doubles of the slots that change
    bool slot0_changes;
    bool only_slot1_changes;

    explicit SlotPick(unsigned slots)
        : changes(_mm256_castsi256_pd(_mm256_setr_epi64x(
              -std::int64_t(slots & 1), -std::int64_t(slots & 1), -std::int64_t((slots >> 1) & 1),
              -std::int64_t((slots >> 1) & 1)))),
          slot0_changes((slots & 1) != 0),
          only_slot1_changes((slots & 3) == 2) {}

    __m256d pick(__m256d old_value, __m256d new_value) const {
        if constexpr (kMasked) return _mm256_blendv_pd(old_value, new_value, changes);
        return new_value;
    }
};

// kRealColumns: -1, or the matrix's real_columns() (kernel_batches.h).
template <bool kMasked, int kRealColumns>
struct MatrixOp : SlotPick<kMasked> {
    Factor m00, m01, m10, m11;
    Factor on_a0, on_a1;  // (m00, m10) and (m01, m11), for a pair inside one register
    Factor1 s00, s01, s10, s11;

    MatrixOp(const Matrix2& m, unsigned slots)
        : SlotPick<kMasked>(slots),
          m00(m.m00),
          m01(m.m01),
          m10(m.m10),
          m11(m.m11),
          on_a0(m.m00, m.m10),
          on_a1(m.m01, m.m11),
          s00(m.m00),
          s01(m.m01),
          s10(m.m10),
          s11(m.m11) {}

    void pair(__m256d& lo, __m256d& hi) const {
        const __m256d a0 = lo, a1 = hi;
        pair_unmasked(lo, hi);
        lo = this->pick(a0, lo);
        hi = this->pick(a1, hi);
    }
    // A lone amplitude ends a run at an even offset: slot 0.
    void pair(__m128d& lo, __m128d& hi) const {
        if (kMasked && !this->slot0_changes) return;
        const __m128d a0 = lo, a1 = hi;
        lo = add_pd(s00.times(a0), s01.times(a1));
        hi = add_pd(s10.times(a0), s11.times(a1));
    }
    __m256d in_register(__m256d x) const {
        return this->pick(x, add_pd(on_a0.times(both_a0(x)), on_a1.times(both_a1(x))));
    }
    // Two registers at once: their a0s gathered into one register and their a1s into another
    // take the pair path's arithmetic, and go back in place. Four shuffles for four
    // amplitudes instead of six: the products and sums are the same.
    void in_registers(__m256d& x, __m256d& y) const {
        __m256d a0 = _mm256_permute2f128_pd(x, y, 0x20);
        __m256d a1 = _mm256_permute2f128_pd(x, y, 0x31);
        pair_unmasked(a0, a1);
        x = this->pick(x, _mm256_permute2f128_pd(a0, a1, 0x20));
        y = this->pick(y, _mm256_permute2f128_pd(a0, a1, 0x31));
    }

    // A control at qubit 0 leaves slot 1 alone to change: the run gathers slot 1 of two
    // registers into one and hands it here, where every slot changes.
    bool pairs_fit() const { return kMasked && this->only_slot1_changes; }
    void gathered(__m256d& lo, __m256d& hi) const { pair_unmasked(lo, hi); }

private:
    // The pair path's arithmetic, shared by every form above.
    void pair_unmasked(__m256d& lo, __m256d& hi) const {
        const __m256d a0 = lo, a1 = hi;
        if constexpr (kRealColumns < 0) {
            lo = add_pd(m00.times(a0), m01.times(a1));
            hi = add_pd(m10.times(a0), m11.times(a1));
        } else {
            // The two entries of a column multiply the same amplitude by zeros in their
            // imaginary parts: the same product, or, where the zeros differ in sign, its
            // negation, which the second entry subtracts. x + y*(-0) and x - y*0 are the same
            // bits, NaNs included: a NaN operand passes through either unchanged. So a real
            // matrix costs six products for two pairs where any other costs eight.
            const __m256d z0 = m00.imaginary_part(a0), z1 = m01.imaginary_part(a1);
            lo = add_pd(add_pd(m00.real_part(a0), z0), add_pd(m01.real_part(a1), z1));
            hi = add_pd(with_shared<(kRealColumns & 1) != 0>(m10.real_part(a0), z0),
                        with_shared<(kRealColumns & 2) != 0>(m11.real_part(a1), z1));
        }
    }
    template <bool kOpposite>
    static __m256d with_shared(__m256d real_part, __m256d shared) {
        return kOpposite ? sub_pd(real_part, shared) : add_pd(real_part, shared);
    }
};

template <bool kMasked>
struct FlipOp : SlotPick<kMasked> {
    explicit FlipOp(unsigned slots) : SlotPick<kMasked>(slots) {}

    void pair(__m256d& lo, __m256d& hi) const {
        const __m256d a0 = lo;
        lo = this->pick(a0, hi);
        hi = this->pick(hi, a0);
    }
    void pair(__m128d& lo, __m128d& hi) const {
        if (kMasked && !this->slot0_changes) return;
        const __m128d a0 = lo;  // not std::swap: a vector file calls no shared template
        lo = hi;
        hi = a0;
    }
    __m256d in_register(__m256d x) const {
        return this->pick(x, _mm256_permute2f128_pd(x, x, 0x01));
    }

    bool pairs_fit() const { return kMasked && this->only_slot1_changes; }
    void gathered(__m256d& lo, __m256d& hi) const {
        const __m256d a0 = lo;
        lo = hi;
        hi = a0;
    }
};

struct DiagonalOp {
    Factor p0, p1, both;
    Factor1 s0, s1;

    explicit DiagonalOp(const Diagonal& d)
        : p0(d.p0), p1(d.p1), both(d.p0, d.p1), s0(d.p0), s1(d.p1) {}

    void pair(__m256d& lo, __m256d& hi) const {
        lo = p0.times(lo);
        hi = p1.times(hi);
    }
    void pair(__m128d& lo, __m128d& hi) const {
        lo = s0.times(lo);
        hi = s1.times(hi);
    }
    __m256d in_register(__m256d x) const { return both.times(x); }
};

struct HadamardOp {
    __m256d k = _mm256_set1_pd(kHadamard);
    __m128d k1 = _mm_set1_pd(kHadamard);

    void pair(__m256d& lo, __m256d& hi) const {
        const __m256d a0 = lo, a1 = hi;
        lo = _mm256_mul_pd(add_pd(a0, a1), k);
        hi = _mm256_mul_pd(_mm256_sub_pd(a0, a1), k);
    }
    void pair(__m128d& lo, __m128d& hi) const {
        const __m128d a0 = lo, a1 = hi;
        lo = _mm_mul_pd(add_pd(a0, a1), k1);
        hi = _mm_mul_pd(_mm_sub_pd(a0, a1), k1);
    }
    // x is (a0, a1), and its halves swapped are (a1, a0): their sum holds a0 + a1 in slot 0,
    // their difference the other way round a0 - a1 in slot 1. One shuffle across the halves
    // of the register where the pair path's form costs four for two registers: on an AMD
    // EPYC these shuffles go one a cycle, and H at target 0 took 40% less time.
    __m256d in_register(__m256d x) const {
        const __m256d swapped = _mm256_permute2f128_pd(x, x, 0x01);
        const __m256d sum = add_pd(x, swapped), difference = _mm256_sub_pd(swapped, x);
        return _mm256_mul_pd(_mm256_blend_pd(sum, difference, 0b1100), k);
    }
};

// One pass over pairs, the same for every op; the batching around it is shared. Prefetching
// is the only difference between the two instances.
template <bool kPrefetch>
struct Lanes {
    static constexpr unsigned kLog2 = 1;
    static constexpr bool kRealForms = true;
    static constexpr std::uint64_t kTwoStreamsFrom = 4096;                // amplitudes
    static constexpr std::uint64_t kStreamSpan = std::uint64_t{1} << 16;  // amplitudes, 1 MiB

    template <class Op>
    static void run(Complex* lo, Complex* hi, std::uint64_t length, const Op& op) {
        std::uint64_t i = 0;
        if constexpr (requires { op.pairs_fit(); }) {
            if (op.pairs_fit()) {
                // Only slot 1 changes: the slot-1 amplitudes of two registers, gathered into
                // one per stream, take the arithmetic once; slot 0 is neither read nor written.
                for (; i + 4 <= length; i += 4) {
                    if constexpr (kPrefetch) {
                        prefetch_ahead(lo + i);
                        prefetch_ahead(hi + i);
                    }
                    __m256d a0 = odd_slots(lo + i), a1 = odd_slots(hi + i);
                    op.gathered(a0, a1);
                    store_odd_slots(lo + i, a0);
                    store_odd_slots(hi + i, a1);
                }
            }
        }
        // Two registers of each stream per step, so that each cache line is asked for once.
        for (; i + 4 <= length; i += 4) {
            if constexpr (kPrefetch) {
                prefetch_ahead(lo + i);
                prefetch_ahead(hi + i);
            }
            pair_at(lo + i, hi + i, op);
            pair_at(lo + i + 2, hi + i + 2, op);
        }
        if (i + 2 <= length) {
            pair_at(lo + i, hi + i, op);
            i += 2;
        }
        if (i < length) {
            __m128d a0 = load1(lo + i), a1 = load1(hi + i);
            op.pair(a0, a1);
            store1(lo + i, a0);
            store1(hi + i, a1);
        }
    }

    // One register of a0s at lo and one of a1s at hi.
    template <class Op>
    static void pair_at(Complex* lo, Complex* hi, const Op& op) {
        __m256d a0 = load(lo), a1 = load(hi);
        op.pair(a0, a1);
        store(lo, a0);
        store(hi, a1);
    }

    // Four amplitudes from p, two registers of target-0 pairs: in one go where the op has a
    // form for two.
    template <class Op>
    static void in_registers_step(Complex* p, const Op& op) {
        if constexpr (kPrefetch) prefetch_ahead(p);
        __m256d x = load(p), y = load(p + 2);
        if constexpr (requires { op.in_registers(x, y); }) {
            op.in_registers(x, y);
        } else {
            x = op.in_register(x);
            y = op.in_register(y);
        }
        store(p, x);
        store(p + 2, y);
    }

    template <std::uint64_t kHalf, class Op>
    static void runs_in_block(Complex* first, std::uint64_t size, const Op& op) {
        for (std::uint64_t base = 0; base < size; base += 2 * kHalf) {
            run(first + base, first + base + kHalf, kHalf, op);
        }
    }

    template <class Op>
    static void block(Complex* first, std::uint64_t size, unsigned target, const Op& op) {
        if (target == 0) {
            std::uint64_t i = 0;
            if (kPrefetch && size >= kTwoStreamsFrom && size % 8 == 0) {
                // A pass over memory from one place keeps too few reads in flight, so the two
                // halves of each span of a large block go side by side (as with AVX-512).
                // Spans, not the block's halves: two streams half a gigabyte apart ran at
                // half speed on an AMD EPYC, and one span apart they keep memory's pace.
                const std::uint64_t half = size / 2 < kStreamSpan ? size / 2 : kStreamSpan;
                for (std::uint64_t base = 0; base < size; base += 2 * half) {
                    for (i = 0; i < half; i += 4) {
                        in_registers_step(first + base + i, op);
                        in_registers_step(first + base + half + i, op);
                    }
                }
                return;
            }
            for (; i + 4 <= size; i += 4) in_registers_step(first + i, op);
            if (i < size) store(first + i, op.in_register(load(first + i)));  // one pair
            return;
        }
        // Runs of one, two or four registers: with their length known, the run loop's tests
        // and its tail drop out (H, a diagonal and a flip at targets 2 and 3 take 20-40% less
        // time in L1).
        if (target == 1) return runs_in_block<2>(first, size, op);
        if (target == 2) return runs_in_block<4>(first, size, op);
        if (target == 3) return runs_in_block<8>(first, size, op);
        const std::uint64_t half = std::uint64_t{1} << target;
        for (std::uint64_t base = 0; base < size; base += 2 * half) {
            run(first + base, first + base + half, half, op);
        }
    }
};

template <bool kPrefetch>
using Batches = KernelBatches<Lanes<kPrefetch>, MatrixOp, FlipOp, DiagonalOp, HadamardOp>;

constinit const KernelFamily kWithoutPrefetch =
    Batches<false>::family("avx2", false, &kWithoutPrefetch);

}  // namespace

constinit const KernelFamily kAvx2Kernels = Batches<true>::family("avx2", true, &kWithoutPrefetch);

}  // namespace qubit
