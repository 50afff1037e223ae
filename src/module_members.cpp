#include "module_members.h"

#include "objects.h"

namespace zelvanic {
namespace {

int add_class(PyObject* module, const char* name, PyTypeObject* type) {
    if (type == nullptr || add_to_all(module, name) < 0) return -1;
    return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type));
}

}  // namespace

int add_to_all(PyObject* module, const char* name) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return -1;
        }
    }
    PyObject* text = PyUnicode_FromString(name);
    const int status = text == nullptr ? -1 : PyList_Append(all, text);
    Py_XDECREF(text);
    Py_DECREF(all);
    return status;
}

int add_classes(PyObject* module) {
    if (add_class(module, "QuantumRegister", register_type()) < 0) return -1;
    return add_class(module, "PyDiracKet", ket_type());
}

}  // namespace zelvanic
