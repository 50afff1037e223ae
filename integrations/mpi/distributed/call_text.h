// The text of a call as the ledger records it and an error names it: "h(3)",
// "u(0, (1+0j), (0+0j), (0+0j), (1+0j))", "mcu([1, 2], 0, ...)". Doubles are written with 17
// significant digits, so calls that differ in any bit read differently.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qubit/state/complex.h"

namespace distributed {

std::string argument_text(std::uint64_t value);
std::string argument_text(double value);
std::string argument_text(qubit::Complex value);
std::string argument_text(const std::vector<std::uint64_t>& values);

template <class... Args>
std::string call_text(const char* method, const Args&... args) {
    std::string text = std::string(method) + "(";
    bool first = true;
    ((text += (first ? "" : ", ") + argument_text(args), first = false), ...);
    return text + ")";
}

}  // namespace distributed
