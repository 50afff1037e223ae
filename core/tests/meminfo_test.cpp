#include "qubit/state/meminfo.h"

#include <gtest/gtest.h>

#include <limits>
#include <string_view>

namespace qubit {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(Meminfo, MemAvailableWinsOverTheEstimate) {
    EXPECT_EQ(available_memory_from("MemTotal: 100 kB\nMemFree: 50 kB\nMemAvailable: 70 kB\n"),
              70u * 1024);
}

TEST(Meminfo, EstimateWithoutMemAvailable) {
    EXPECT_EQ(available_memory_from("MemFree: 10 kB\nBuffers: 2 kB\nCached: 3 kB\n"
                                    "SReclaimable: 4 kB\nShmem: 1 kB\n"),
              18u * 1024);
    // Keys never seen count as zero; the subtraction stops at zero.
    EXPECT_EQ(available_memory_from("MemFree: 1 kB\nShmem: 5 kB\n"), 0u);
    EXPECT_EQ(available_memory_from(""), 0u);
}

TEST(Meminfo, SumsAndKibibytesSaturate) {
    const std::uint64_t k54 = std::uint64_t{1} << 54;
    EXPECT_EQ(available_memory_from("MemAvailable: " + std::to_string(k54) + " kB\n"), kMax);
    EXPECT_EQ(available_memory_from("MemAvailable: " + std::to_string(k54 - 1) + " kB\n"),
              (k54 - 1) * 1024);
    const std::string half = std::to_string(k54 - 1);
    EXPECT_EQ(available_memory_from("MemFree: " + half + "\nCached: " + half + "\nShmem: 1\n"),
              kMax - 1024);
}

TEST(Meminfo, LastOfADuplicatedKeyCounts) {
    EXPECT_EQ(available_memory_from("MemAvailable: 1 kB\nMemAvailable: 2 kB\n"), 2048u);
}

TEST(Meminfo, ValueRules) {
    // A leading '+' is a number; the value ends at its first space or the next colon.
    EXPECT_EQ(available_memory_from("MemAvailable:\t +7 kB"), 7168u);
    EXPECT_EQ(available_memory_from("MemAvailable: 7:junk"), 7168u);
    // Unparsable values, colon-less lines and overflowing numbers are skipped.
    EXPECT_EQ(available_memory_from("MemAvailable: 3 kB\nMemAvailable: -1 kB\n"), 3072u);
    EXPECT_EQ(available_memory_from("MemAvailable 9 kB\nMemFree: x\nMemFree: 1\n"), 1024u);
    EXPECT_EQ(available_memory_from("MemAvailable: 18446744073709551616\nMemFree: 2"), 2048u);
    EXPECT_EQ(available_memory_from("MemAvailable: ++1\nMemAvailable: \nMemFree: 1"), 1024u);
}

TEST(Meminfo, PresenceOfMemAvailableDecidesNotItsValue) {
    // A MemAvailable of 0 is a figure of 0, not a reason to estimate; an unparsable one was
    // never seen, so the estimate applies.
    EXPECT_EQ(available_memory_from("MemAvailable: 0 kB\nMemFree: 100 kB\n"), 0u);
    EXPECT_EQ(available_memory_from("MemAvailable: lots\nMemFree: 2 kB\n"), 2048u);
}

TEST(Meminfo, OnlyExactKeysAndPlainNumbersCount) {
    // Keys are compared exactly: no trimming, no case folding.
    EXPECT_EQ(available_memory_from(" MemAvailable: 5 kB\nmemavailable: 6 kB\n"
                                    "MemAvailable : 7 kB\nMemFree: 1 kB\n"),
              1024u);
    // A line ends at a line feed only: a carriage return or a tab stays in the value and
    // spoils the number, a space ends it.
    EXPECT_EQ(available_memory_from("MemAvailable: 5\r\nMemFree: 3 kB\r\n"), 3072u);
    EXPECT_EQ(available_memory_from("MemAvailable:\t7\tkB\nMemFree: 4 kB\n"), 4096u);
    // Embedded NUL bytes are ordinary characters of the text, not its end.
    constexpr char kWithNul[] = "MemFree: 1\0 kB\nMemAvailable: 9 kB\0\nMemAvailable: 8\0";
    EXPECT_EQ(available_memory_from(std::string_view(kWithNul, sizeof kWithNul - 1)), 9216u);
    EXPECT_EQ(available_memory_from("\n\n:\n::\n:1\n"), 0u);
}

TEST(Meminfo, LiveFileGivesAFigure) { EXPECT_GT(available_memory(), 0u); }

}  // namespace
}  // namespace qubit
