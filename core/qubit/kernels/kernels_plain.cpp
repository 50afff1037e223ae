// The reference family: one pair at a time, in the arithmetic of complex.h. The vector
// families are checked against these loops bit for bit.
#include <cstdint>
#include <utility>

#include "qubit/kernels/kernel_batches.h"
#include "qubit/kernels/kernels.h"
#include "qubit/state/complex.h"

namespace qubit {
namespace {

// One amplitude per "register": a mask either changes it or leaves it, so the batching
// only ever asks for the unmasked op. The arithmetic has no cheaper real form here.
template <bool kMasked, int kRealColumns>
struct MatrixOp {
    static_assert(kRealColumns == -1);
    static_assert(!kMasked);
    Matrix2 m;
    unsigned slots;
    void operator()(Complex& lo, Complex& hi) const {
        const Complex a0 = lo;
        const Complex a1 = hi;
        lo = add(mul(m.m00, a0), mul(m.m01, a1));
        hi = add(mul(m.m10, a0), mul(m.m11, a1));
    }
};

template <bool kMasked>
struct FlipOp {
    static_assert(!kMasked);
    unsigned slots;
    void operator()(Complex& lo, Complex& hi) const { std::swap(lo, hi); }
};

struct DiagonalOp {
    Diagonal d;
    void operator()(Complex& lo, Complex& hi) const {
        lo = mul(d.p0, lo);
        hi = mul(d.p1, hi);
    }
};

struct HadamardOp {
    void operator()(Complex& lo, Complex& hi) const {
        const __m128d k = _mm_set1_pd(kHadamard);
        const __m128d a0 = parts(lo), a1 = parts(hi);
        lo = amplitude(_mm_mul_pd(ordered_add(a0, a1), k));
        hi = amplitude(_mm_mul_pd(_mm_sub_pd(a0, a1), k));
    }
};

// One pass over pairs, the same for every op; the batching around it is shared.
struct Lanes {
    static constexpr unsigned kLog2 = 0;
    static constexpr bool kRealForms = false;

    template <class Op>
    static void run(Complex* lo, Complex* hi, std::uint64_t length, const Op& op) {
        for (std::uint64_t i = 0; i < length; ++i) op(lo[i], hi[i]);
    }

    // A block is a sequence of runs: 2^t pairs, then the next 2^(t+1) amplitudes.
    template <class Op>
    static void block(Complex* first, std::uint64_t size, unsigned target, const Op& op) {
        const std::uint64_t half = std::uint64_t{1} << target;
        for (std::uint64_t base = 0; base < size; base += 2 * half) {
            run(first + base, first + base + half, half, op);
        }
    }
};

using Batches = KernelBatches<Lanes, MatrixOp, FlipOp, DiagonalOp, HadamardOp>;

// These loops never prefetch; the flag only tells the exchanges (exchange_runs.h) whether to.
constinit const KernelFamily kWithoutPrefetch = Batches::family("plain", false, &kWithoutPrefetch);

}  // namespace

constinit const KernelFamily kPlainKernels = Batches::family("plain", true, &kWithoutPrefetch);

}  // namespace qubit
