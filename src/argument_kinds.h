// The four kinds of method argument and how each is converted. A kind converts in two
// steps: `check` runs while the arguments are converted, in parameter order (it may run the
// caller's Python code and fails with an exception set); `take` hands the value to the core
// just before the call and cannot fail.
#pragma once

#include <cstdint>
#include <utility>

#include "core_register.h"
#include "python.h"
#include "qubit/state/complex.h"

namespace zelvanic {

// An int (bool included) or an object with __index__, in 0 ... 2^64 - 1.
struct QubitIndex {
    using Held = std::uint64_t;
    static bool check(PyObject* object, Held& out);
    static std::uint64_t take(Held& held) { return held; }
};

// A float, or anything PyFloat_AsDouble accepts.
struct Angle {
    using Held = double;
    static bool check(PyObject* object, Held& out);
    static double take(Held& held) { return held; }
};

// An instance of complex or of a subclass; its parts are read only in `take`.
struct MatrixEntry {
    using Held = PyObject*;  // borrowed: the caller's arguments outlive the call
    static bool check(PyObject* object, Held& out);
    static qubit::Complex take(Held& held) {
        return {PyComplex_RealAsDouble(held), PyComplex_ImagAsDouble(held)};
    }
};

// Any sequence but a str, each element a qubit index, in iteration order.
struct QubitList {
    using Held = qubit::Qubits;
    static bool check(PyObject* object, Held& out);
    static qubit::Qubits take(Held& held) { return std::move(held); }
};

// After a failed `check` of parameter `name`: a pending TypeError (exactly that type) is
// replaced by TypeError "argument '<name>': <text>" keeping its cause; others pass unchanged.
void name_the_argument(const char* name);

}  // namespace zelvanic
