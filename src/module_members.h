// Filling a module at import: what both extension modules (one process, and MPI jobs) put in
// theirs, the two classes, listed in __all__.
#pragma once

#include "python.h"

namespace zelvanic {

// Adds QuantumRegister and PyDiracKet, each also named in the module's __all__. -1 with an
// exception set on failure.
int add_classes(PyObject* module);
// Names `name` in the module's __all__, making the list when there is none.
int add_to_all(PyObject* module, const char* name);

}  // namespace zelvanic
