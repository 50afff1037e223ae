#include "qubit/register/register.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fatal_text.h"
#include "qubit/gates/fixed_bits.h"
#include "qubit/state/fatal_error.h"

namespace qubit {
namespace {

using testing::fatal_text;

bool bits_equal(Complex a, Complex b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Register, StartsInTheAllZeroState) {
    QuantumRegister reg(3, 1 << 20);
    EXPECT_EQ(reg.n(), 3u);
    EXPECT_EQ(reg.dim(), 8u);
    ASSERT_EQ(reg.state().size(), 8u);
    EXPECT_TRUE(bits_equal(reg.state()[0], {1.0, 0.0}));
    for (std::size_t i = 1; i < 8; ++i) EXPECT_TRUE(bits_equal(reg.state()[i], {0.0, 0.0}));
}

TEST(Register, ZeroQubitsHaveOneAmplitude) {
    QuantumRegister reg(0, 16);
    EXPECT_EQ(reg.dim(), 1u);
    ASSERT_EQ(reg.state().size(), 1u);
    EXPECT_TRUE(bits_equal(reg.state()[0], {1.0, 0.0}));
}

TEST(Register, LargeRegistersAreZeroFilledAndAligned) {
    QuantumRegister reg(17, ~std::uint64_t{0});  // past the mmap threshold
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(reg.state().data()) % 64, 0u);
    for (std::size_t i = 1; i < reg.dim(); ++i) ASSERT_TRUE(bits_equal(reg.state()[i], {0, 0}));
}

TEST(Register, GuardPassesAtExactlyTheNeededBytes) {
    EXPECT_EQ(register_bytes(10, 16384), 16384u);
    EXPECT_EQ(fatal_text([] { register_bytes(10, 16383); }),
              "You have 16383 bytes of memory and Not enough memory to simulate 10 qubits! "
              "This which needs.. 16384 bytes of memory! This need 1 more memory");
}

TEST(Register, GuardTextForFortyQubits) {
    EXPECT_EQ(fatal_text([] { QuantumRegister(40, 8000000000); }),
              "You have 8000000000 bytes of memory and Not enough memory to simulate 40 qubits! "
              "This which needs.. 17592186044416 bytes of memory! This need 17584186044416 "
              "more memory");
}

TEST(Register, CapacityOverflow) {
    const std::uint64_t all = ~std::uint64_t{0};
    EXPECT_EQ(fatal_text([&] { register_bytes(60, all); }), "capacity overflow");
    EXPECT_EQ(fatal_text([&] { register_bytes(~std::uint64_t{0}, all); }), "capacity overflow");
    // 59 qubits need 2^63 bytes: the guard speaks first unless the figure is that large.
    EXPECT_EQ(fatal_text([&] { register_bytes(59, all); }), "capacity overflow");
    EXPECT_EQ(fatal_text([] { register_bytes(59, 0); }).rfind("You have 0 bytes", 0), 0u);
    EXPECT_NE(fatal_text([] { QuantumRegister r(59); }).find("needs.. 9223372036854775808 "),
              std::string::npos);
}

TEST(Register, FailedAllocationIsAFatalErrorNamingTheBytes) {
    // 2^46 bytes pass a guard told of unlimited memory but no machine here maps them.
    const std::string text = fatal_text([] { QuantumRegister r(42, ~std::uint64_t{0}); });
    EXPECT_EQ(text, "memory allocation of 70368744177664 bytes failed");
}

TEST(Register, IndexPastTheStateIsAFatalErrorNamingBoth) {
    EXPECT_NO_THROW(require_index_below(3, 4));
    EXPECT_EQ(fatal_text([] { require_index_below(4, 4); }),
              "index 4 out of bounds for 4 amplitudes");
}

TEST(Register, FatalErrorKnowsWhereItWasRaised) {
    try {
        register_bytes(60, 0);
        FAIL();
    } catch (const FatalError& e) {
        EXPECT_NE(std::string(e.where().file).find("register.cpp"), std::string::npos);
        EXPECT_GT(e.where().line, 0u);
    }
}

}  // namespace
}  // namespace qubit
