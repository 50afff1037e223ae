#include "panic.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>

namespace zelvanic {
namespace {

constexpr const char* kDoc =
    "Raised when the native code of zelvanic stops with a fatal error.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
    "typically propagates all the way up and ends the interpreter.";

// Created once per process on first need; never released.
PyObject* exception_class() {
    static PyObject* cls = nullptr;
    if (cls == nullptr) {
        cls = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kDoc, PyExc_BaseException,
                                        nullptr);
    }
    return cls;
}

void write_diagnostic(std::string_view text, const qubit::SourceLocation& where) {
    char name[32] = "?";
    pthread_getname_np(pthread_self(), name, sizeof name);
    std::fprintf(stderr, "zelvanic: thread '%s' (%ld) stopped at %s:%u:\n%.*s\n", name,
                 static_cast<long>(gettid()), where.file, where.line, static_cast<int>(text.size()),
                 text.data());
    std::fflush(stderr);
}

}  // namespace

PyObject* raise_fatal(std::string_view text, qubit::SourceLocation where) {
    write_diagnostic(text, where);
    PyObject* cls = exception_class();
    if (cls == nullptr) return nullptr;  // the failure to make the class is what is raised
    PyObject* message =
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (message == nullptr) return nullptr;
    PyErr_SetObject(cls, message);
    Py_DECREF(message);
    return nullptr;
}

PyObject* raise_fatal(const qubit::FatalError& error) {
    return raise_fatal(error.what(), error.where());
}

}  // namespace zelvanic
