// Settings read from the environment, parsed strictly. The core never prints: a value it
// cannot use comes back marked as refused, with its text, and the caller tells the user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qubit {

// `text` as a count in [min, max]: decimal digits only, the whole text (no sign, no spaces,
// no base prefix); nothing when it is anything else or out of range.
std::optional<std::uint64_t> parse_count(std::string_view text, std::uint64_t min,
                                         std::uint64_t max);

struct CountSetting {
    enum class Kind {
        unset,    // the variable is absent or empty
        count,    // `count` holds the value
        word,     // the text is the word the caller allowed in place of a count
        refused,  // the text is neither; `text` holds it for the caller's message
    };
    Kind kind = Kind::unset;
    std::uint64_t count = 0;
    std::string text;
};

// The environment variable `name` read as a count in [min, max], or as `word` when one is
// given (e.g. "auto"). Read afresh on every call.
CountSetting read_count_setting(const char* name, std::uint64_t min, std::uint64_t max,
                                std::string_view word = {});

}  // namespace qubit
