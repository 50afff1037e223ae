#include "qubit/state/meminfo.h"

#include <fstream>
#include <iterator>
#include <limits>
#include <string>

namespace qubit {
namespace {

constexpr std::uint64_t kSaturated = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > kSaturated - b ? kSaturated : a + b;
}

// An unsigned decimal: one optional leading '+', then digits only, no overflow.
bool parse_u64(std::string_view text, std::uint64_t& out) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kSaturated - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

// The value text of one line: between the first colon and the next colon (or the line end),
// leading white space stripped, cut before its first space.
std::string_view value_text(std::string_view rest) {
    rest = rest.substr(0, rest.find(':'));
    const auto start = rest.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string_view::npos) return {};
    rest.remove_prefix(start);
    return rest.substr(0, rest.find(' '));
}

struct Keys {
    bool has_available = false;
    std::uint64_t available = 0, free = 0, buffers = 0, cached = 0, reclaimable = 0, shmem = 0;

    void set(std::string_view key, std::uint64_t bytes) {
        if (key == "MemAvailable") {
            has_available = true;
            available = bytes;
        } else if (key == "MemFree") {
            free = bytes;
        } else if (key == "Buffers") {
            buffers = bytes;
        } else if (key == "Cached") {
            cached = bytes;
        } else if (key == "SReclaimable") {
            reclaimable = bytes;
        } else if (key == "Shmem") {
            shmem = bytes;
        }
    }

    std::uint64_t figure() const {
        if (has_available) return available;
        const std::uint64_t sum =
            saturating_add(saturating_add(saturating_add(free, buffers), cached), reclaimable);
        return sum > shmem ? sum - shmem : 0;
    }
};

}  // namespace

std::uint64_t available_memory_from(std::string_view text) {
    Keys keys;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::uint64_t kib = 0;
        if (!parse_u64(value_text(line.substr(colon + 1)), kib)) continue;
        keys.set(line.substr(0, colon), kib > kSaturated / 1024 ? kSaturated : kib * 1024);
    }
    return keys.figure();
}

std::uint64_t available_memory() {
    std::ifstream file("/proc/meminfo");
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return available_memory_from(file.bad() ? std::string_view{} : text);
}

}  // namespace qubit
