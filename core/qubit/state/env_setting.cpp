#include "qubit/state/env_setting.h"

#include <cstdlib>

namespace qubit {

std::optional<std::uint64_t> parse_count(std::string_view text, std::uint64_t min,
                                         std::uint64_t max) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        // A value past 64 bits is out of every range a caller can give.
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

CountSetting read_count_setting(const char* name, std::uint64_t min, std::uint64_t max,
                                std::string_view word) {
    const char* raw = std::getenv(name);
    if (raw == nullptr || *raw == '\0') return {};
    const std::string_view text(raw);
    if (!word.empty() && text == word) return {CountSetting::Kind::word, 0, std::string(text)};
    if (const auto count = parse_count(text, min, max)) {
        return {CountSetting::Kind::count, *count, std::string(text)};
    }
    return {CountSetting::Kind::refused, 0, std::string(text)};
}

}  // namespace qubit
