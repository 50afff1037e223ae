// Reads the ChaCha12 reference file, data/chacha12.json (data/README.md names where its values
// come from). The file is small and regular, so a few string searches do instead of a JSON
// library: a field is looked up inside the object of its section, and values are hex strings,
// decimal integers or hex floats.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qubit/random/chacha12.h"

namespace qubit::testdata {

inline const std::string& chacha12_json() {
    static const std::string text = [] {
        const std::string path = std::string(ZELVANIC_TESTDATA) + "/chacha12.json";
        std::ifstream in(path);
        if (!in) ADD_FAILURE() << "cannot read " << path;
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }();
    return text;
}

// The text of the value of "name" (an object, array or string) inside `scope`.
inline std::string field(const std::string& scope, const std::string& name) {
    const std::size_t key = scope.find('"' + name + '"');
    if (key == std::string::npos) {
        ADD_FAILURE() << "no field " << name;
        return {};
    }
    std::size_t start = scope.find_first_not_of(" \n\t", scope.find(':', key) + 1);
    const char open = scope[start];
    if (open == '"') return scope.substr(start + 1, scope.find('"', start + 1) - start - 1);
    const char close = open == '{' ? '}' : ']';
    int depth = 0;
    for (std::size_t i = start; i < scope.size(); ++i) {
        if (scope[i] == open) ++depth;
        if (scope[i] == close && --depth == 0) return scope.substr(start, i - start + 1);
    }
    ADD_FAILURE() << "unterminated field " << name;
    return {};
}

inline std::string section(const std::string& name) { return field(chacha12_json(), name); }

// The items of an array's text, without quotes.
inline std::vector<std::string> items(const std::string& array) {
    std::vector<std::string> out;
    std::string item;
    for (char c : array.substr(1, array.size() - 2)) {
        if (c == ',') {
            out.push_back(item);
            item.clear();
        } else if (c != '"' && c != ' ' && c != '\n') {
            item += c;
        }
    }
    if (!item.empty()) out.push_back(item);
    return out;
}

inline std::vector<std::uint64_t> integers(const std::string& array) {
    std::vector<std::uint64_t> out;
    for (const std::string& item : items(array)) out.push_back(std::stoull(item));
    return out;
}

inline double hex_double(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

inline std::vector<std::uint8_t> hex_bytes(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline ChaChaKey hex_key(const std::string& hex) {
    const std::vector<std::uint8_t> bytes = hex_bytes(hex);
    ChaChaKey key{};
    EXPECT_EQ(bytes.size(), key.size());
    for (std::size_t i = 0; i < key.size() && i < bytes.size(); ++i) key[i] = bytes[i];
    return key;
}

// Little-endian 32-bit words of keystream bytes.
inline std::vector<std::uint32_t> le_words(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
        out.push_back(std::uint32_t{bytes[i]} | std::uint32_t{bytes[i + 1]} << 8 |
                      std::uint32_t{bytes[i + 2]} << 16 | std::uint32_t{bytes[i + 3]} << 24);
    }
    return out;
}

}  // namespace qubit::testdata
