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

// glibc allocates a thread's block of a loaded library's thread-local data on the thread's
// first use of it, and ends the process ("cannot allocate memory for thread-local data") when
// it cannot. The C++ runtime records a thrown exception in its block, so a thread's first
// exception, often std::bad_alloc with memory exhausted, would allocate it. A thread's first
// call here touches that block and this module's (the random generator's), so that they are
// allocated while the thread still has memory to spare.
inline void touch_thread_locals() noexcept {
    thread_local bool touched = false;
    if (!touched) [[unlikely]] {
        (void)std::uncaught_exceptions();
        touched = true;
    }
}

template <class Body>
PyObject* guarded(Body&& body) noexcept {
    touch_thread_locals();
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
