// A method's documentation is exactly its text signature, "h($self, target)\n--\n\n". The
// method's name and parameter names are read from it at compile time, so each method is
// written once, in one line of the method table.
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
inline constexpr std::size_t kParamCount = text_signature_detail::param_count(Doc.text);

template <TextSignature Doc>
inline constexpr auto kMethodName = text_signature_detail::name_storage(Doc.text);

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
