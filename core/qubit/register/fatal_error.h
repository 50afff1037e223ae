// The one way an operation of the core stops outright: an exception carrying the text
// and where it was raised. The core never prints and never exits.
#pragma once

#include <stdexcept>
#include <string>

namespace qubit {

// Where a FatalError was raised. (std::source_location is not usable with every compiler
// we build with, but the builtins behind it are.)
struct SourceLocation {
    const char* file;
    unsigned line;

    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            unsigned line = __builtin_LINE()) {
        return {file, line};
    }
};

class FatalError : public std::runtime_error {
public:
    explicit FatalError(const std::string& text, SourceLocation where = SourceLocation::current())
        : std::runtime_error(text), where_(where) {}

    const SourceLocation& where() const noexcept { return where_; }

private:
    SourceLocation where_;
};

}  // namespace qubit
