#include "call_protocol.h"

namespace zelvanic {
namespace {

PyObject* raise_failure(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return nullptr;
}

}  // namespace

PyObject* already_borrowed() {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return nullptr;
}

PyObject* hand_back(PyObject* self, CoreGateResult& outcome) {
    if (!outcome.ok()) return raise_failure(outcome.message());
    Py_INCREF(self);
    return self;
}

PyObject* hand_back(PyObject*, const std::vector<double>& values) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
    if (list != nullptr) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            PyObject* value = PyFloat_FromDouble(values[i]);
            if (value == nullptr) {
                Py_CLEAR(list);
                break;
            }
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), value);
        }
    }
    if (list == nullptr) {
        // Out of memory mid-way: report the interpreter's error, then stop as the core would.
        PyErr_WriteUnraisable(nullptr);
        return raise_fatal("PyObject pointer is null");
    }
    return list;
}

}  // namespace zelvanic
