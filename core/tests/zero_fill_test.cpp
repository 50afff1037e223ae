#include "qubit/state/zero_fill.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qubit {
namespace {

bool is_positive_zero(Complex a) {
    const Complex zero{0.0, 0.0};
    return std::memcmp(&a, &zero, sizeof a) == 0;
}

// Runs that start and end inside a cache line as well as on its edges, short and long, in
// both modes: exactly the run becomes +0.0 + 0i, its neighbours keep their values.
TEST(ZeroFiller, ZeroesExactlyTheRunWhetherStreamedOrNot) {
    const std::uint64_t long_run = 3 * ZeroFiller::kStreamedRun + 1;
    for (const bool stream : {false, true}) {
        for (const std::uint64_t offset : {0, 1, 2, 3, 4, 5}) {
            for (const std::uint64_t count :
                 {std::uint64_t{0}, std::uint64_t{1}, ZeroFiller::kStreamedRun - 1,
                  ZeroFiller::kStreamedRun, long_run}) {
                std::vector<Complex> amplitudes(offset + count + 8, Complex{-0.0, 1.5});
                {
                    ZeroFiller zero_fill(stream);
                    zero_fill(amplitudes.data() + offset, count);
                }
                for (std::uint64_t i = 0; i < amplitudes.size(); ++i) {
                    const bool inside = i >= offset && i < offset + count;
                    ASSERT_EQ(is_positive_zero(amplitudes[i]), inside)
                        << "stream " << stream << ", offset " << offset << ", count " << count
                        << ", index " << i;
                }
            }
        }
    }
}

TEST(ZeroFiller, StreamsOnlyStatesLargerThanSmallCaches) {
    EXPECT_FALSE(ZeroFiller::worth_streaming(std::uint64_t{1} << 20));
    EXPECT_TRUE(ZeroFiller::worth_streaming(std::uint64_t{1} << 40));
}

}  // namespace
}  // namespace qubit
