// Matching a call's arguments to a method's parameters. Every parameter is positional-or-
// keyword and required; the messages are the interpreter's usual ones, worded for a method
// named like "QuantumRegister.h()".
#pragma once

#include <span>
#include <string>

#include "python.h"

namespace zelvanic {

struct Signature {
    std::string function;  // "QuantumRegister.h()"
    std::span<const char* const> params;
};

// Fills `out` (one borrowed reference per parameter) from a vector call. False with
// TypeError set on any mismatch.
bool match_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, std::span<PyObject*> out);

// The same for a call that arrives as a tuple and a dictionary (the constructor).
bool match_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                     std::span<PyObject*> out);

}  // namespace zelvanic
