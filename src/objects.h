// The two Python classes' instance layouts and their type objects. Each type object is made
// once per process, the first time it is needed.
#pragma once

#include "borrow.h"
#include "python.h"
#include "qubit/register/dirac_ket.h"
#include "qubit/register/register.h"

namespace zelvanic {

// A QuantumRegister instance owns exactly one core register for its whole life.
struct RegisterObject {
    PyObject_HEAD
    qubit::QuantumRegister reg;
    BorrowFlag borrow;
};

// Immutable once made, so it needs no borrow flag.
struct KetObject {
    PyObject_HEAD
    qubit::DiracKet ket;
};

// Null with an exception set when the type cannot be made.
PyTypeObject* register_type();
PyTypeObject* ket_type();

// A new PyDiracKet holding `ket`; null with MemoryError when the interpreter has no memory.
PyObject* new_ket(const qubit::DiracKet& ket);

inline RegisterObject* as_register(PyObject* self) {
    return reinterpret_cast<RegisterObject*>(self);
}

}  // namespace zelvanic
