// The module `zelvanic`: multi-phase initialisation with one execution step that registers
// QuantumRegister, then PyDiracKet. Nothing else happens at import.
#include "objects.h"

namespace zelvanic {
namespace {

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

int add_class(PyObject* module, const char* name, PyTypeObject* type) {
    if (type == nullptr || add_to_all(module, name) < 0) return -1;
    return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type));
}

int exec_module(PyObject* module) {
    if (add_class(module, "QuantumRegister", register_type()) < 0) return -1;
    return add_class(module, "PyDiracKet", ket_type());
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "zelvanic", "", 0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace zelvanic

// The one exported symbol (3.8's PyMODINIT_FUNC does not mark it visible itself).
extern "C" __attribute__((visibility("default"))) PyObject* PyInit_zelvanic() {
    return PyModuleDef_Init(&zelvanic::definition);
}
