// The one way an operation of the core stops outright: an exception carrying the text
// and where it was raised. The core never prints and never exits.
#pragma once

#include <source_location>
#include <stdexcept>
#include <string>

namespace qubit {

class FatalError : public std::runtime_error {
public:
    explicit FatalError(const std::string& text,
                        std::source_location where = std::source_location::current())
        : std::runtime_error(text), where_(where) {}

    const std::source_location& where() const noexcept { return where_; }

private:
    std::source_location where_;
};

}  // namespace qubit
