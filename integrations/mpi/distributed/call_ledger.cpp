#include "distributed/call_ledger.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "distributed/job.h"
#include "qubit/state/fatal_error.h"

namespace distributed {
namespace {

struct Header {
    std::uint64_t count;
    std::uint64_t digest;
    char call[112];
};
static_assert(sizeof(Header) == 128);

std::uint64_t count = 0;
std::uint64_t digest = 0xcbf29ce484222325;  // FNV-1a's offset basis
std::string last_call = "the start of the program";
std::string divergence;  // set once the processes have disagreed

Header header_of(const std::string& call) {
    Header header{count, digest, {}};
    std::memcpy(header.call, call.data(), std::min(call.size(), sizeof header.call - 1));
    return header;
}

std::string described(int rank, const Header& header) {
    return "rank " + std::to_string(rank) + " is at call " + std::to_string(header.count) + ", " +
           std::string(header.call, strnlen(header.call, sizeof header.call));
}

}  // namespace

void CallLedger::record(const std::string& call) {
    ++count;
    for (const char c : call) digest = (digest ^ static_cast<unsigned char>(c)) * 0x100000001b3;
    digest = (digest ^ 0xff) * 0x100000001b3;  // ends the call, so "h(1)" "2" differs from "h(12)"
    last_call = call;
}

std::string CallLedger::compare() {
    const Header mine = header_of(last_call);
    std::vector<Header> all(static_cast<std::size_t>(Job::size()));
    Job::gather(&mine, all.data(), sizeof(Header));
    const Header& first = all[0];
    for (int r = 1; r < Job::size(); ++r) {
        const Header& other = all[static_cast<std::size_t>(r)];
        if (other.count == first.count && other.digest == first.digest &&
            std::memcmp(other.call, first.call, sizeof first.call) == 0) {
            continue;
        }
        std::string text = "the processes no longer make the same calls: " + described(0, first) +
                           ", where " + described(r, other);
        if (other.count == first.count && std::memcmp(other.call, first.call, sizeof first.call) == 0) {
            text += "; earlier calls differed";
        }
        return text;
    }
    return {};
}

void CallLedger::synchronise() {
    if (divergence.empty()) divergence = compare();
    if (!divergence.empty()) throw qubit::FatalError(divergence);
}

std::string CallLedger::divergence_at_exit() {
    if (!divergence.empty()) return {};
    record("the end of the program");
    divergence = compare();
    return divergence;
}

}  // namespace distributed
