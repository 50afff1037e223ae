// The Python/C API as this module uses it, with the few calls whose spelling changed across
// the interpreters we support (3.8 to 3.13) given one name here.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zelvanic {

// Takes the pending exception (normalised, with its traceback); null when none is pending.
inline PyObject* take_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

// Makes `exception` (a reference this call steals) the pending exception again.
inline void restore_exception(PyObject* exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception));
    Py_INCREF(type);
    PyErr_Restore(type, exception, PyException_GetTraceback(exception));
#endif
}

}  // namespace zelvanic
