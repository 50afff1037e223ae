// QuantumRegister: the Python face of one core register, and its method table.
#include <cstring>
#include <new>
#include <string>

#include "call_protocol.h"
#include "qubit/parallel/thread_choice.h"
#include "qubit/state/meminfo.h"
#include "setting_warning.h"

namespace zelvanic {
namespace {

using QuantumRegister = CoreRegister;

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* params[] = {"n"};
        static const Signature signature{"QuantumRegister.__new__()", params};
        std::array<PyObject*, 1> given;
        if (!match_arguments(signature, args, kwargs, given)) return nullptr;
        std::uint64_t n = 0;
        if (!QubitIndex::check(given[0], n)) {
            name_the_argument("n");
            return nullptr;
        }
        const qubit::TileChoice tiles = qubit::machine_tile_choice();
        warn_if_refused("ZELVANIC_TILE_QUBITS", tiles.setting,
                        "a whole number of at least " + std::to_string(tiles.least_qubits));
        const qubit::ThreadChoice threads = qubit::thread_choice();
        warn_if_refused(
            "ZELVANIC_THREADS", threads.setting,
            "a whole number up to " + std::to_string(qubit::kMostThreads) + ", or auto");
        QuantumRegister reg(n, qubit::available_memory(), tiles.shape, threads.threads);
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return nullptr;  // `reg` is released on the way out
        RegisterObject* object = as_register(self);
        new (&object->reg) QuantumRegister(std::move(reg));
        new (&object->borrow) BorrowFlag(0);
        object->built = true;
        return self;
    });
}

void dealloc(PyObject* self) {
    if (as_register(self)->built) as_register(self)->reg.~QuantumRegister();
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

PyMethodDef methods[] = {
    method<"observe($self)\n--\n\n", &QuantumRegister::observe>(),
    method<"observe_one($self, target)\n--\n\n", &QuantumRegister::observe_one, QubitIndex>(),
    method<"observe_mul($self, targets)\n--\n\n", &QuantumRegister::observe_mul, QubitList>(),
    method<"god_observe($self)\n--\n\n", &QuantumRegister::god_observe>(),
    method<"x($self, target)\n--\n\n", &QuantumRegister::X, QubitIndex>(),
    method<"h($self, target)\n--\n\n", &QuantumRegister::H, QubitIndex>(),
    method<"u($self, target, u00, u01, u10, u11)\n--\n\n", &QuantumRegister::U, QubitIndex,
           MatrixEntry, MatrixEntry, MatrixEntry, MatrixEntry>(),
    method<"cnot($self, control, target)\n--\n\n", &QuantumRegister::CNOT, QubitIndex,
           QubitIndex>(),
    method<"ccnot($self, control1, control2, target)\n--\n\n", &QuantumRegister::CCNOT, QubitIndex,
           QubitIndex, QubitIndex>(),
    method<"rz($self, target, theta)\n--\n\n", &QuantumRegister::Rz, QubitIndex, Angle>(),
    method<"rx($self, target, theta)\n--\n\n", &QuantumRegister::Rx, QubitIndex, Angle>(),
    method<"ry($self, target, theta)\n--\n\n", &QuantumRegister::Ry, QubitIndex, Angle>(),
    method<"swap($self, q1, q2)\n--\n\n", &QuantumRegister::SWAP, QubitIndex, QubitIndex>(),
    method<"csswap($self, control, target_1, target_2)\n--\n\n", &QuantumRegister::CSSWAP,
           QubitIndex, QubitIndex, QubitIndex>(),
    method<"mcu($self, control, target, u00, u01, u10, u11)\n--\n\n", &QuantumRegister::MCU,
           QubitList, QubitIndex, MatrixEntry, MatrixEntry, MatrixEntry, MatrixEntry>(),
    {nullptr, nullptr, 0, nullptr},
};

constexpr char kDoc[] = "QuantumRegister(n)\n--\n\n";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(construct)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec type_spec = {"builtins.QuantumRegister", sizeof(RegisterObject), 0, Py_TPFLAGS_DEFAULT,
                         slots};

// Interpreters before 3.10 keep a heap type's docstring without its text signature, so the
// class would not advertise (n): give the type the whole text back. The type object lives
// as long as the process and frees tp_doc with PyObject_Free if it ever goes.
bool keep_text_signature(PyTypeObject* type) {
    if (std::strcmp(type->tp_doc, kDoc) == 0) return true;
    auto* doc = static_cast<char*>(PyObject_Malloc(sizeof kDoc));
    if (doc == nullptr) return false;
    std::memcpy(doc, kDoc, sizeof kDoc);
    PyObject_Free(const_cast<char*>(type->tp_doc));
    type->tp_doc = doc;
    return true;
}

}  // namespace

RegisterObject* built_register(PyObject* self) {
    RegisterObject* object = as_register(self);
    if (object->built) return object;
    PyErr_SetString(PyExc_TypeError, "QuantumRegister object is not initialized");
    return nullptr;
}

PyTypeObject* register_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        PyObject* made = PyType_FromSpec(&type_spec);
        if (made == nullptr) return nullptr;
        if (!keep_text_signature(reinterpret_cast<PyTypeObject*>(made))) {
            Py_DECREF(made);
            PyErr_NoMemory();
            return nullptr;
        }
        type = made;
    }
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace zelvanic
