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

// The calls since the processes last agreed, each as the digest after it and its text, so that
// a divergence names the first call that differed. Only the first kKeptCalls are kept: a longer
// stretch of calls without a message names the calls where the processes meet instead.
constexpr std::size_t kKeptCalls = std::size_t{1} << 16;

std::uint64_t count = 0;
std::uint64_t digest = 0xcbf29ce484222325;  // FNV-1a's offset basis
std::uint64_t agreed = 0;                   // the count when the processes last agreed
std::vector<std::uint64_t> digests;
std::vector<std::string> texts;
std::string last_call = "the start of the program";
std::string divergence;  // set once the processes have disagreed

Header header_of(const std::string& call) {
    Header header{count, digest, {}};
    std::memcpy(header.call, call.data(), std::min(call.size(), sizeof header.call - 1));
    return header;
}

std::string text_of(const Header& header) {
    return std::string(header.call, strnlen(header.call, sizeof header.call));
}

bool same(const Header& a, const Header& b) {
    return a.count == b.count && a.digest == b.digest &&
           std::memcmp(a.call, b.call, sizeof a.call) == 0;
}

// The first kept call at which some rank's digest departs from rank 0's, and that rank; or
// nothing when the kept calls all agree.
struct Departure {
    std::size_t call;
    int rank;
};

bool first_departure(const std::vector<std::vector<std::uint64_t>>& kept, Departure& found) {
    const std::vector<std::uint64_t>& first = kept[0];
    std::size_t longest = 0;
    for (const auto& list : kept) longest = std::max(longest, list.size());
    for (std::size_t i = 0; i < longest; ++i) {
        for (std::size_t r = 1; r < kept.size(); ++r) {
            const bool both = i < first.size() && i < kept[r].size();
            if (!both && i >= first.size() && i >= kept[r].size()) continue;
            if (!both || kept[r][i] != first[i]) {
                found = {i, static_cast<int>(r)};
                return true;
            }
        }
    }
    return false;
}

// What rank `rank` did as call `number`, from every rank's text of it (count 0: none yet).
std::string call_of(const std::vector<Header>& calls, int rank, std::uint64_t number) {
    const Header& at = calls[static_cast<std::size_t>(rank)];
    if (at.count == 0) return "made no call " + std::to_string(number) + " yet";
    return "made call " + std::to_string(number) + ", " + text_of(at);
}

}  // namespace

bool CallLedger::keeping() { return Job::size() > 1; }

void CallLedger::record(const std::string& call) {
    ++count;
    for (const char c : call) digest = (digest ^ static_cast<unsigned char>(c)) * 0x100000001b3;
    digest = (digest ^ 0xff) * 0x100000001b3;  // ends the call, so "h(1)" "2" differs from "h(12)"
    if (digests.size() < kKeptCalls) {
        digests.push_back(digest);
        texts.push_back(call);
    }
    last_call = call;
}

std::string CallLedger::compare() {
    const Header mine = header_of(last_call);
    std::vector<Header> all(static_cast<std::size_t>(Job::size()));
    Job::gather(&mine, all.data(), sizeof(Header));
    int differing = 0;
    for (int r = 1; r < Job::size() && differing == 0; ++r) {
        if (!same(all[static_cast<std::size_t>(r)], all[0])) differing = r;
    }
    if (differing == 0) {
        agreed = count;
        digests.clear();
        texts.clear();
        return {};
    }
    // Name the first call that differed: every process looks at every process's kept digests,
    // then hands in its own text of that call.
    Departure departure{0, differing};
    const bool found = first_departure(Job::gather_lists(digests), departure);
    Header at{};
    if (found && departure.call < texts.size()) {
        at = header_of(texts[departure.call]);
        at.count = agreed + departure.call + 1;
    }
    std::vector<Header> calls(all.size());
    Job::gather(&at, calls.data(), sizeof(Header));
    const Header& now = all[static_cast<std::size_t>(departure.rank)];
    const std::string other = "rank " + std::to_string(departure.rank);
    std::string text = "the processes no longer make the same calls: ";
    if (found) {
        const std::uint64_t number = agreed + departure.call + 1;
        text += "rank 0 " + call_of(calls, 0, number) + ", where " + other + " " +
                call_of(calls, departure.rank, number);
    } else {
        text += "they differ after call " + std::to_string(agreed + kKeptCalls);
    }
    text += "; rank 0 is now at call " + std::to_string(all[0].count) + ", " + text_of(all[0]) +
            ", and " + other + " at call " + std::to_string(now.count) + ", " + text_of(now);
    return text;
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
