// libFuzzer target for the /proc/meminfo reader: any text must be read without a crash, an
// out-of-bounds access or undefined behaviour (the build adds the sanitizers), and must give
// the same figure as the reference reader below, written for clarity rather than speed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qubit/state/meminfo.h"

namespace {

using u64 = std::uint64_t;
constexpr u64 kMax = ~u64{0};

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines{""};
    for (char c : text) {
        if (c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

bool is_white(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// "+" at most once in front, then one or more digits, and a value below 2^64.
std::optional<u64> parse_number(const std::string& text) {
    std::size_t at = 0;
    if (at < text.size() && text[at] == '+') ++at;
    if (at == text.size()) return std::nullopt;
    unsigned __int128 value = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
        if (value > kMax) return std::nullopt;
    }
    return static_cast<u64>(value);
}

u64 saturate(unsigned __int128 value) { return value > kMax ? kMax : static_cast<u64>(value); }

u64 reference_figure(const std::string& text) {
    std::map<std::string, u64> bytes;
    for (const std::string& line : split_lines(text)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        value = value.substr(0, value.find(':'));
        std::size_t start = 0;
        while (start < value.size() && is_white(value[start])) ++start;
        value = value.substr(start);
        value = value.substr(0, value.find(' '));
        if (const std::optional<u64> kib = parse_number(value)) {
            bytes[line.substr(0, colon)] = saturate(static_cast<unsigned __int128>(*kib) * 1024);
        }
    }
    if (bytes.count("MemAvailable")) return bytes["MemAvailable"];
    unsigned __int128 sum = 0;
    for (const char* key : {"MemFree", "Buffers", "Cached", "SReclaimable"}) sum += bytes[key];
    const u64 capped = saturate(sum);
    return capped > bytes["Shmem"] ? capped - bytes["Shmem"] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes on the heap: a read past the end is a sanitizer report.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const u64 got = qubit::available_memory_from(std::string_view(text));
    const u64 expected = reference_figure(text);
    if (got != expected) {
        std::fprintf(stderr, "available_memory_from gave %llu, the reference %llu\n",
                     static_cast<unsigned long long>(got),
                     static_cast<unsigned long long>(expected));
        std::abort();
    }
    return 0;
}
