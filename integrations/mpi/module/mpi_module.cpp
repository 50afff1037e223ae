// The module `zelvanic_mpi`: QuantumRegister and PyDiracKet as in `zelvanic`, the register
// spread over the processes of the MPI job, and three functions of its own:
//   rank(), size()                  this process's place in the job, and the job's size;
//   block_probabilities(register)   (first index, probabilities of this process's block).
// Importing it joins MPI; the end of the program checks that every process made the same
// calls, then leaves MPI.
#include <cstdio>

#include "call_protocol.h"
#include "distributed/call_ledger.h"
#include "distributed/job.h"
#include "module_members.h"

namespace zelvanic {
namespace {

using distributed::CallLedger;
using distributed::Job;

// Runs after the interpreter has finished, so it may not raise: a divergence found now (this
// process ended while another still calls) is written out, and the others raise it.
void at_exit() {
    try {
        if (!Job::running()) return;
        const std::string divergence = CallLedger::divergence_at_exit();
        if (!divergence.empty()) std::fprintf(stderr, "zelvanic_mpi: %s\n", divergence.c_str());
        Job::finish();
    } catch (...) {
        std::fputs("zelvanic_mpi: MPI failed while the program ended\n", stderr);
    }
}

PyObject* rank(PyObject*, PyObject*) { return PyLong_FromLong(Job::rank()); }

PyObject* size(PyObject*, PyObject*) { return PyLong_FromLong(Job::size()); }

PyObject* block_probabilities(PyObject*, PyObject* argument) {
    return guarded([&]() -> PyObject* {
        if (!PyObject_TypeCheck(argument, register_type())) {
            PyErr_Format(PyExc_TypeError,
                         "block_probabilities() takes a QuantumRegister, not '%.200s'",
                         Py_TYPE(argument)->tp_name);
            return nullptr;
        }
        RegisterObject* object = built_register(argument);
        if (object == nullptr) return nullptr;
        ExclusiveHold hold(object->borrow);
        if (!hold) return already_borrowed();
        const std::vector<double> block = object->reg.block_probabilities();
        const unsigned long long first = object->reg.first_index();
        hold.release();
        PyObject* list = hand_back(argument, block);
        if (list == nullptr) return nullptr;
        PyObject* pair = Py_BuildValue("(KN)", first, list);
        return pair;
    });
}

PyMethodDef functions[] = {
    {"rank", rank, METH_NOARGS, "rank()\n--\n\nThis process's rank in the MPI job."},
    {"size", size, METH_NOARGS, "size()\n--\n\nThe number of processes in the MPI job."},
    {"block_probabilities", block_probabilities, METH_O,
     "block_probabilities(register)\n--\n\n"
     "(first, probabilities): the probabilities of the basis states this process holds,\n"
     "first, first + 1, ..., without gathering the whole list. No messages are sent."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    const bool started = guarded([]() -> PyObject* {
                             Job::start();
                             return Py_None;
                         }) != nullptr;
    if (!started) return -1;
    if (Py_AtExit(at_exit) < 0) {
        PyErr_SetString(PyExc_RuntimeError, "zelvanic_mpi cannot register its exit handler");
        return -1;
    }
    if (add_classes(module) < 0) return -1;
    for (const char* name : {"rank", "size", "block_probabilities"}) {
        if (add_to_all(module, name) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "zelvanic_mpi", "", 0, functions, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace zelvanic

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_zelvanic_mpi() {
    return PyModuleDef_Init(&zelvanic::definition);
}
