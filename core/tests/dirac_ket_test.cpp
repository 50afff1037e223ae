#include "qubit/state/dirac_ket.h"

#include <gtest/gtest.h>

namespace qubit {
namespace {

TEST(DiracKetText, PadsToWidthButNeverTruncates) {
    EXPECT_EQ((DiracKet{5, 4}.text()), "|0101>");
    EXPECT_EQ((DiracKet{5, 2}.text()), "|101>");
    EXPECT_EQ((DiracKet{0, 0}.text()), "|0>");
    EXPECT_EQ((DiracKet{0, 3}.text()), "|000>");
    EXPECT_EQ((DiracKet{6, 3}.text()), "|110>");  // qubit 0 is the rightmost digit
}

TEST(DiracKetText, WritesAllSixtyFourBits) {
    EXPECT_EQ((DiracKet{~std::uint64_t{0}, 1}.text()), "|" + std::string(64, '1') + ">");
    EXPECT_EQ((DiracKet{std::uint64_t{1} << 63, 0}.text()), "|1" + std::string(63, '0') + ">");
}

}  // namespace
}  // namespace qubit
