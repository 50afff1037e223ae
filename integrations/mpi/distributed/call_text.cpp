#include "distributed/call_text.h"

#include <cmath>
#include <cstdio>

namespace distributed {

std::string argument_text(std::uint64_t value) { return std::to_string(value); }

std::string argument_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string argument_text(qubit::Complex value) {
    return "(" + argument_text(value.re) + (value.im < 0 || std::signbit(value.im) ? "" : "+") +
           argument_text(value.im) + "j)";
}

std::string argument_text(const std::vector<std::uint64_t>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : ", ") + argument_text(values[i]);
    }
    return text + "]";
}

}  // namespace distributed
