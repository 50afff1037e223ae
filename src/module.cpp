// The module `zelvanic`: multi-phase initialisation with one execution step that registers
// QuantumRegister, then PyDiracKet. Nothing else happens at import.
#include "module_members.h"

namespace zelvanic {
namespace {

int exec_module(PyObject* module) { return add_classes(module); }

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
