// A method's documentation is exactly its text signature, "h($self, target)\n--\n\n". The
// method's name and parameter names are read from it at compile time, so each method is
// written once, in one line of the method table. The reading relies on that exact shape,
// so every signature is checked against it, character by character, before it is read.
#pragma once

#include <array>
#include <cstddef>

namespace zelvanic {

template <std::size_t N>
struct TextSignature {
    char text[N]{};
    constexpr TextSignature(const char (&literal)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = literal[i];
    }
};

namespace text_signature_detail {

constexpr bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Reads one or more name characters at `at`; false if there are none.
constexpr bool skip_name(const char* text, std::size_t& at) {
    const std::size_t from = at;
    while (is_name_char(text[at])) ++at;
    return at > from;
}

constexpr bool skip_literal(const char* text, std::size_t& at, const char* literal) {
    for (; *literal != '\0'; ++literal, ++at) {
        if (text[at] != *literal) return false;
    }
    return true;
}

// name($self[, param]...)\n--\n\n and nothing after it: names of letters, digits and
// underscores, every separator exactly ", ".
template <std::size_t N>
constexpr bool well_formed(const char (&text)[N]) {
    std::size_t at = 0;
    if (!skip_name(text, at) || !skip_literal(text, at, "($self")) return false;
    while (text[at] == ',') {
        if (!skip_literal(text, at, ", ") || !skip_name(text, at)) return false;
    }
    return skip_literal(text, at, ")\n--\n\n") && at == N - 1 && text[at] == '\0';
}

constexpr std::size_t find(const char* text, char c, std::size_t from = 0) {
    while (text[from] != c) ++from;
    return from;
}

// "($self)" has none; "($self, a, b)" has two.
constexpr std::size_t param_count(const char* text) {
    std::size_t count = 0;
    for (std::size_t i = find(text, '('); text[i] != ')'; ++i) count += text[i] == ',';
    return count;
}

// Each name is stored null-terminated, in a slot as long as the whole signature.
template <std::size_t Count, std::size_t N>
constexpr auto param_storage(const char (&text)[N]) {
    std::array<std::array<char, N>, Count> names{};
    std::size_t at = find(text, '(');
    for (std::size_t p = 0; p < Count; ++p) {
        at = find(text, ',', at) + 2;  // past ", "
        for (std::size_t i = 0; text[at + i] != ',' && text[at + i] != ')'; ++i) {
            names[p][i] = text[at + i];
        }
    }
    return names;
}

template <std::size_t N>
constexpr auto name_storage(const char (&text)[N]) {
    std::array<char, N> name{};
    for (std::size_t i = 0; text[i] != '('; ++i) name[i] = text[i];
    return name;
}

}  // namespace text_signature_detail

template <TextSignature Doc>
inline constexpr bool kWellFormed = text_signature_detail::well_formed(Doc.text);

template <TextSignature Doc>
inline constexpr std::size_t kParamCount = [] {
    static_assert(kWellFormed<Doc>, "a text signature is name($self, a, b)\\n--\\n\\n exactly");
    return text_signature_detail::param_count(Doc.text);
}();

template <TextSignature Doc>
inline constexpr auto kMethodName = [] {
    static_assert(kWellFormed<Doc>, "a text signature is name($self, a, b)\\n--\\n\\n exactly");
    return text_signature_detail::name_storage(Doc.text);
}();

template <TextSignature Doc>
inline constexpr auto kParamStorage =
    text_signature_detail::param_storage<kParamCount<Doc>>(Doc.text);

template <TextSignature Doc>
inline constexpr auto kParamNames = [] {
    std::array<const char*, kParamCount<Doc>> names{};
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = kParamStorage<Doc>[i].data();
    return names;
}();

}  // namespace zelvanic
