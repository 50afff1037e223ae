#include "argument_kinds.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zelvanic {
namespace {

// "'float' object is not an instance of 'complex'", with None named as itself.
void not_an_instance(PyObject* object, const char* expected) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    // The qualified name, read from the type itself: no attribute lookup, no new string.
    PyTypeObject* type = Py_TYPE(object);
    if (type->tp_flags & Py_TPFLAGS_HEAPTYPE) {
        PyObject* name = reinterpret_cast<PyHeapTypeObject*>(type)->ht_qualname;
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name, expected);
        return;
    }
    const char* dot = std::strrchr(type->tp_name, '.');  // a static type's "module.name"
    PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'",
                 dot != nullptr ? dot + 1 : type->tp_name, expected);
}

bool int_to_u64(PyObject* integer, std::uint64_t& out) {
    out = PyLong_AsUnsignedLongLong(integer);
    return !(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred());
}

// A lying __len__ must not make us reserve the machine; the vector grows past this anyway.
constexpr Py_ssize_t kMaxReserve = 1 << 16;

}  // namespace

bool QubitIndex::check(PyObject* object, Held& out) {
    if (PyLong_Check(object)) return int_to_u64(object, out);
    PyObject* index = PyNumber_Index(object);
    if (index == nullptr) return false;
    const bool ok = int_to_u64(index, out);
    Py_DECREF(index);
    return ok;
}

bool Angle::check(PyObject* object, Held& out) {
    if (PyFloat_CheckExact(object)) {
        out = PyFloat_AS_DOUBLE(object);
        return true;
    }
    out = PyFloat_AsDouble(object);
    return !(out == -1.0 && PyErr_Occurred());
}

bool MatrixEntry::check(PyObject* object, Held& out) {
    if (!PyComplex_Check(object)) {
        not_an_instance(object, "complex");
        return false;
    }
    out = object;
    return true;
}

bool QubitList::check(PyObject* object, Held& out) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(object)) {
        not_an_instance(object, "Sequence");
        return false;
    }
    try {
        const Py_ssize_t length = PyObject_Length(object);
        if (length < 0) PyErr_Clear();  // only a size hint
        out.reserve(static_cast<std::size_t>(std::clamp<Py_ssize_t>(length, 0, kMaxReserve)));

        PyObject* iterator = PyObject_GetIter(object);
        if (iterator == nullptr) return false;
        while (PyObject* item = PyIter_Next(iterator)) {
            std::uint64_t qubit = 0;
            const bool ok = QubitIndex::check(item, qubit);
            Py_DECREF(item);
            if (!ok) {
                Py_DECREF(iterator);
                return false;
            }
            out.push_back(qubit);
        }
        Py_DECREF(iterator);
        return !PyErr_Occurred();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

void name_the_argument(const char* name) {
    PyObject* error = take_exception();
    if (error == nullptr) return;
    if (Py_TYPE(error) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        restore_exception(error);
        return;
    }
    PyObject* named = nullptr;
    if (PyObject* text = PyObject_Str(error)) {
        if (PyObject* message = PyUnicode_FromFormat("argument '%s': %U", name, text)) {
            named = PyObject_CallFunctionObjArgs(PyExc_TypeError, message, nullptr);
            Py_DECREF(message);
        }
        Py_DECREF(text);
    }
    if (named == nullptr) {  // could not build the new error: the failure to do so is raised
        Py_DECREF(error);
        return;
    }
    if (PyObject* cause = PyException_GetCause(error)) PyException_SetCause(named, cause);
    Py_DECREF(error);
    restore_exception(named);
}

}  // namespace zelvanic
