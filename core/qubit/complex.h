// A complex amplitude and the only arithmetic the simulator does with it.
//
// Every product is four real products, each rounded on its own, then one subtraction and
// one addition. The build keeps the compiler from fusing them (-ffp-contract=off), so the
// plain and the vector kernels agree to the last bit.
#pragma once

namespace qubit {

struct Complex {
    double re;
    double im;
};
static_assert(sizeof(Complex) == 16, "an amplitude is two packed doubles");

// (x + iy)(u + iv) = (xu - yv) + i(xv + yu); `m` is the matrix entry, `a` the amplitude.
inline Complex mul(Complex m, Complex a) {
    return {m.re * a.re - m.im * a.im, m.re * a.im + m.im * a.re};
}

inline Complex add(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }

// |a|^2, the probability an amplitude stands for (std::norm of a complex number).
inline double norm(Complex a) { return a.re * a.re + a.im * a.im; }

}  // namespace qubit
