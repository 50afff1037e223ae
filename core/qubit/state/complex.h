// A complex amplitude and the only arithmetic the simulator does with it.
//
// Every product is four real products, each rounded on its own, then two additions, the
// real part's with the negated imaginary factor. The build keeps the compiler from fusing
// them (-ffp-contract=off), so the plain and the vector kernels agree to the last bit.
//
// They agree on NaNs too. When both operands are NaN, x86 hands on the first one's sign and
// payload, and a compiler may swap the operands of + and *. So those two are written in
// assembly with the operands in the order of the formulas below, which the vector kernels
// follow too (a subtraction is never swapped, and an operand that is never NaN, such as a
// constant, needs no pinning). The real part adds (-y)v rather than subtracting yv: AVX-512
// has no addsub, and the negation flips a NaN's sign where a subtraction keeps it, so
// every family adds the negated product, the plain one included.
#pragma once

#include <emmintrin.h>

namespace qubit {

struct Complex {
    double re;
    double im;
};
static_assert(sizeof(Complex) == 16, "an amplitude is two packed doubles");

// The two parts of an amplitude side by side in one SSE2 register, which every x86-64
// processor has: (re, im).
inline __m128d parts(Complex a) { return _mm_loadu_pd(&a.re); }
inline Complex amplitude(__m128d both) {
    Complex a;
    _mm_storeu_pd(&a.re, both);
    return a;
}

// x * y and x + y part by part, with x's NaN winning where both are NaN.
inline __m128d ordered_mul(__m128d x, __m128d y) {
    asm("mulpd %1, %0" : "+x"(x) : "xm"(y));
    return x;
}

inline __m128d ordered_add(__m128d x, __m128d y) {
    asm("addpd %1, %0" : "+x"(x) : "xm"(y));
    return x;
}

// (x + iy)(u + iv) = (xu + (-y)v) + i(xv + yu); `m` is the matrix entry, `a` the amplitude:
// (x, x) * (u, v) + (-y, y) * (v, u). (-y)v is exactly -(yv), and p + (-q) is exactly
// p - q, so this is the textbook product.
inline Complex mul(Complex m, Complex a) {
    const __m128d x = parts(a);
    const __m128d swapped = _mm_shuffle_pd(x, x, 0b01);
    return amplitude(ordered_add(ordered_mul(_mm_set1_pd(m.re), x),
                                 ordered_mul(_mm_setr_pd(-m.im, m.im), swapped)));
}

inline Complex add(Complex a, Complex b) { return amplitude(ordered_add(parts(a), parts(b))); }

// |a|^2, the probability an amplitude stands for (std::norm of a complex number).
inline double norm(Complex a) { return a.re * a.re + a.im * a.im; }

}  // namespace qubit
