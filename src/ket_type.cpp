// PyDiracKet: an immutable holder of one measurement outcome, made only by measurements.
#include <new>
#include <string>

#include "entry_guard.h"
#include "objects.h"

namespace zelvanic {
namespace {

KetObject* as_ket(PyObject* self) { return reinterpret_cast<KetObject*>(self); }

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", type->tp_name);
    return nullptr;
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

PyObject* repr(PyObject* self) {
    return guarded([&] {
        const std::string text = as_ket(self)->ket.text();
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {0, nullptr},
};

PyType_Spec type_spec = {"builtins.PyDiracKet", sizeof(KetObject), 0, Py_TPFLAGS_DEFAULT, slots};

}  // namespace

PyTypeObject* ket_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) type = PyType_FromSpec(&type_spec);
    return reinterpret_cast<PyTypeObject*>(type);
}

PyObject* new_blank_ket() {
    PyTypeObject* type = ket_type();
    if (type == nullptr) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    as_ket(self)->ket = {0, 0};
    return self;
}

void fill_ket(PyObject* blank, const qubit::DiracKet& ket) noexcept { as_ket(blank)->ket = ket; }

}  // namespace zelvanic
