// The boundary between the interpreter and C++. Every function the interpreter calls runs its
// whole body through `guarded`, so no C++ exception ever unwinds into the interpreter (which
// would end the process): running out of memory becomes MemoryError, any other exception the
// fatal-error exception. Nothing may allocate outside it, lazily built statics included.
#pragma once

#include <exception>
#include <new>

#include "panic.h"
#include "python.h"

namespace zelvanic {

template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const qubit::FatalError& error) {
        return raise_fatal(error);
    } catch (const std::exception& error) {
        return raise_fatal(error.what());
    } catch (...) {
        return raise_fatal("unknown C++ exception");
    }
}

}  // namespace zelvanic
