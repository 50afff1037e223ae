// The reference family: one pair at a time, in the arithmetic of complex.h. The vector
// families are checked against these loops bit for bit.
#include <cstdint>

#include "qubit/complex.h"
#include "qubit/kernels.h"

namespace qubit {
namespace {

struct MatrixOp {
    Matrix2 m;
    void operator()(Complex& lo, Complex& hi) const {
        const Complex a0 = lo;
        const Complex a1 = hi;
        lo = add(mul(m.m00, a0), mul(m.m01, a1));
        hi = add(mul(m.m10, a0), mul(m.m11, a1));
    }
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
        const Complex a0 = lo;
        const Complex a1 = hi;
        lo = {(a0.re + a1.re) * kHadamard, (a0.im + a1.im) * kHadamard};
        hi = {(a0.re - a1.re) * kHadamard, (a0.im - a1.im) * kHadamard};
    }
};

template <class Op>
void run(Complex* lo, Complex* hi, std::uint64_t length, const Op& op) {
    for (std::uint64_t i = 0; i < length; ++i) op(lo[i], hi[i]);
}

// A block is a sequence of runs: 2^t pairs, then the next 2^(t+1) amplitudes.
template <class Op>
void block(Complex* first, std::uint64_t size, unsigned target, const Op& op) {
    const std::uint64_t half = std::uint64_t{1} << target;
    for (std::uint64_t base = 0; base < size; base += 2 * half) {
        run(first + base, first + base + half, half, op);
    }
}

template <class Op, class... Args>
void blocks(Complex* state, const std::uint64_t* starts, std::uint64_t count, std::uint64_t size,
            unsigned target, const Args&... args) {
    const Op op{args...};
    for (std::uint64_t i = 0; i < count; ++i) block(state + starts[i], size, target, op);
}

template <class Op, class... Args>
void runs(Complex* state, const std::uint64_t* starts, std::uint64_t count, std::uint64_t length,
          std::uint64_t half, const Args&... args) {
    const Op op{args...};
    for (std::uint64_t i = 0; i < count; ++i) {
        run(state + starts[i], state + starts[i] + half, length, op);
    }
}

// One amplitude per "register": slot 0 is every amplitude.
void matrix_blocks(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                   std::uint64_t size, unsigned target, const Matrix2& m, unsigned slots) {
    if ((slots & 1) != 0) blocks<MatrixOp>(state, starts, count, size, target, m);
}

void matrix_runs(Complex* state, const std::uint64_t* starts, std::uint64_t count,
                 std::uint64_t length, std::uint64_t half, const Matrix2& m, unsigned slots) {
    if ((slots & 1) != 0) runs<MatrixOp>(state, starts, count, length, half, m);
}

}  // namespace

constinit const KernelFamily kPlainKernels{
    "plain",
    0,
    matrix_blocks,
    matrix_runs,
    blocks<DiagonalOp, Diagonal>,
    runs<DiagonalOp, Diagonal>,
    blocks<HadamardOp>,
    runs<HadamardOp>,
};

}  // namespace qubit
