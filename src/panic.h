// The fatal-error exception: how a core operation that stopped outright reaches Python.
// Its class derives from BaseException, so `except Exception` does not swallow it.
#pragma once

#include <string_view>

#include "python.h"
#include "qubit/state/fatal_error.h"

namespace zelvanic {

// Writes the diagnostic to standard error and sets the fatal-error exception with `error`'s
// text. Always returns null, for `return raise_fatal(e);`.
PyObject* raise_fatal(const qubit::FatalError& error);

// The same for a fatal condition found in this layer. Allocates nothing of its own, so that it
// can report an exception caught while memory is short.
PyObject* raise_fatal(std::string_view text,
                      qubit::SourceLocation where = qubit::SourceLocation::current());

}  // namespace zelvanic
