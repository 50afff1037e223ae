// The two Python classes' instance layouts and their type objects. Each type object is made
// once per process, the first time it is needed.
#pragma once

#include "borrow.h"
#include "core_register.h"
#include "python.h"
#include "qubit/state/dirac_ket.h"

namespace zelvanic {

// A QuantumRegister instance owns exactly one core register for its whole life, once built.
// The constructor builds it; an instance made another way (QuantumRegister.__new__ can be
// replaced) is zero-filled memory with `built` false, and `reg` is never touched.
struct RegisterObject {
    PyObject_HEAD
    bool built;
    CoreRegister reg;
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

// A new PyDiracKet holding |0> of width 0, for a measurement to fill in once it has
// collapsed the register; null with MemoryError when the interpreter has no memory.
PyObject* new_blank_ket();
// Sets the outcome of a ket made by new_blank_ket that nobody else has seen yet.
void fill_ket(PyObject* blank, const qubit::DiracKet& ket) noexcept;

inline RegisterObject* as_register(PyObject* self) {
    return reinterpret_cast<RegisterObject*>(self);
}

// `self` as a register object when its register was built; else null with TypeError set.
RegisterObject* built_register(PyObject* self);

}  // namespace zelvanic
