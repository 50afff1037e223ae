// The one way an operation of the core stops outright: an exception carrying the text
// and where it was raised. The core never prints and never exits.
#pragma once

#include <cstdint>
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

// What every refused allocation raises: "memory allocation of N bytes failed", followed by
// `detail` when one is given. Made at the caller's line: `throw allocation_failure(bytes);`.
inline FatalError allocation_failure(std::uint64_t bytes, const std::string& detail = {},
                                     SourceLocation where = SourceLocation::current()) {
    return FatalError("memory allocation of " + std::to_string(bytes) + " bytes failed" + detail,
                      where);
}

}  // namespace qubit
