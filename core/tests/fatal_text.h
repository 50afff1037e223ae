// The text of the FatalError an operation stops with, or a marker when it does not stop.
#pragma once

#include <string>

#include "qubit/state/fatal_error.h"

namespace qubit::testing {

inline std::string fatal_text(auto&& operation) {
    try {
        operation();
    } catch (const FatalError& e) {
        return e.what();
    }
    return "<no fatal error>";
}

}  // namespace qubit::testing
