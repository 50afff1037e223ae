#include "qubit/kernels/kernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "amplitude_checks.h"
#include "qubit/gates/fixed_bits.h"
#include "qubit/gates/pair_pass.h"
#include "qubit/kernels/kernels.h"

namespace qubit {
namespace {

using testing::apply_controlled;
using testing::awkward_state;
using testing::Nans;

const Matrix2 kMatrix{{0.6, -0.0}, {-0.0, 0.8}, {1e-310, -0.8}, {0.6, 0.5}};
const Diagonal kPhases{{0.8, -0.6}, {-0.0, 1.0}};

// Factors with NaNs of both signs and payloads, as a rotation by a NaN angle makes them:
// a NaN result must carry the same bits in every family.
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kOtherNaN = -std::bit_cast<double>(std::uint64_t{0x7ff8000000000bad});
const Matrix2 kNaNMatrix{{kNaN, -0.0}, {0.5, -kNaN}, {kOtherNaN, 0.8}, {0.6, kNaN}};
const Diagonal kNaNPhases{{-kNaN, 0.6}, {0.8, kOtherNaN}};

// Matrices whose imaginary parts are all zeros, one for each way the two zeros of each
// column can differ in sign (Ry's is the third), with NaNs, an infinity and signed zeros
// among the real parts. Some families have a cheaper form for these, which differs from the
// plain one only in the sign of a zero sum if at all wrong: so each goes alone on a state
// that still holds zeros, and a zero real part makes more of them.
constexpr double kInf = std::numeric_limits<double>::infinity();
const Matrix2 kRealMatrices[] = {
    {{0.6, +0.0}, {-0.8, +0.0}, {-0.0, +0.0}, {0.6, +0.0}},
    {{kNaN, -0.0}, {-0.0, +0.0}, {+0.0, +0.0}, {kOtherNaN, +0.0}},
    {{0.6, +0.0}, {-0.8, -0.0}, {0.8, +0.0}, {0.6, +0.0}},
    {{1e-310, +0.0}, {kInf, -0.0}, {-kNaN, -0.0}, {-0.0, +0.0}},
};

::testing::AssertionResult same_state(std::span<const Complex> actual,
                                      std::span<const Complex> expected) {
    return testing::same_state(actual, expected, Nans::kExact);
}

// The vector families, each to be held against the plain one.
std::vector<const KernelFamily*> fast_families() {
    std::vector<const KernelFamily*> all = supported_kernels();
    return {all.begin() + 1, all.end()};
}

TEST(KernelDispatch, PlainComesFirstAndTheFastestIsActive) {
    const std::vector<const KernelFamily*> all = supported_kernels();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), &kPlainKernels);
    EXPECT_EQ(all.back(), &active_kernels());
    std::set<std::string> names;
    for (const KernelFamily* family : all) names.insert(family->name);
    EXPECT_EQ(names.size(), all.size());
    if (__builtin_cpu_supports("avx2")) {
        EXPECT_NE(all.size(), 1u) << "AVX2 left unused";
    }
}

// Runs every kind of kernel of `family` and of the plain family on the same awkward state.
template <class Apply>
void expect_same_as_plain(const KernelFamily& family, std::size_t size, std::uint64_t seed,
                          Apply apply) {
    const std::vector<Complex> before = awkward_state(size, seed);
    std::vector<Complex> plain = before, fast = before;
    apply(kPlainKernels, plain.data());
    apply(family, fast.data());
    EXPECT_TRUE(same_state(fast, plain));
}

TEST(KernelFamilies, BlocksMatchPlainForEveryTarget) {
    for (const KernelFamily* family : fast_families()) {
        // Up to 9 qubits, and 13: a block of 2^13 is large enough for the passes that work on
        // two places at once. And 18 at target 0, where those places go span by span.
        for (unsigned n = 1; n <= 18; n += n < 9 ? 1 : n < 13 ? 4 : 5) {
            for (unsigned t = 0; t < (n < 18 ? n : 1); ++t) {
                // A batch of the smallest blocks, and one block of the whole vector.
                const unsigned log_sizes[2] = {t + 1, n};
                for (const unsigned log_size : std::span(log_sizes, t + 1 < n ? 2 : 1)) {
                    SCOPED_TRACE(::testing::Message() << family->name << " n " << n << " target "
                                                      << t << " block 2^" << log_size);
                    std::vector<std::uint64_t> starts;
                    for (std::uint64_t s = 0; s < (std::uint64_t{1} << n); s += 3u << log_size) {
                        starts.push_back(s);
                    }
                    const std::uint64_t size = std::uint64_t{1} << log_size;
                    const std::uint64_t count = starts.size();
                    expect_same_as_plain(
                        *family, std::size_t{1} << n, n * 100 + t,
                        [&](const KernelFamily& f, Complex* state) {
                            f.matrix_blocks(state, starts.data(), count, size, t, kMatrix,
                                            kAllSlots);
                            f.diagonal_blocks(state, starts.data(), count, size, t, kPhases);
                            f.hadamard_blocks(state, starts.data(), count, size, t);
                            f.matrix_blocks(state, starts.data(), count, size, t, kNaNMatrix,
                                            kAllSlots);
                            f.diagonal_blocks(state, starts.data(), count, size, t, kNaNPhases);
                        });
                    for (const Matrix2& m : kRealMatrices) {
                        expect_same_as_plain(*family, std::size_t{1} << n, n * 100 + t,
                                             [&](const KernelFamily& f, Complex* state) {
                                                 f.matrix_blocks(state, starts.data(), count, size,
                                                                 t, m, kAllSlots);
                                             });
                    }
                    // A sum taken the other way round differs only where both terms are NaNs
                    // of different payloads, which the gates above leave few of.
                    expect_same_as_plain(*family, std::size_t{1} << n, n * 100 + t,
                                         [&](const KernelFamily& f, Complex* state) {
                                             f.hadamard_blocks(state, starts.data(), count, size,
                                                               t);
                                         });
                }
            }
        }
    }
}

TEST(KernelFamilies, RunsMatchPlainForEveryLength) {
    for (const KernelFamily* family : fast_families()) {
        for (std::uint64_t length = 1; length <= 11; ++length) {
            for (std::uint64_t half = length; half <= 16; half += 5) {
                SCOPED_TRACE(::testing::Message()
                             << family->name << " length " << length << " half " << half);
                const std::vector<std::uint64_t> starts = {0, 2 * half + 1, 5 * half + 3};
                expect_same_as_plain(
                    *family, 8 * half + 4, length * 17 + half,
                    [&](const KernelFamily& f, Complex* state) {
                        f.matrix_runs(state, starts.data(), 3, length, half, kMatrix, kAllSlots);
                        f.diagonal_runs(state, starts.data(), 3, length, half, kPhases);
                        f.hadamard_runs(state, starts.data(), 3, length, half);
                        f.matrix_runs(state, starts.data(), 3, length, half, kNaNMatrix, kAllSlots);
                        f.diagonal_runs(state, starts.data(), 3, length, half, kNaNPhases);
                    });
                for (const Matrix2& m : kRealMatrices) {
                    expect_same_as_plain(*family, 8 * half + 4, length * 17 + half,
                                         [&](const KernelFamily& f, Complex* state) {
                                             f.matrix_runs(state, starts.data(), 3, length, half, m,
                                                           kAllSlots);
                                         });
                }
            }
        }
    }
}

// Partners far apart go through a buffer (kernel_batches.h). Forced here from 1 and from 8
// amplitudes apart on, small states take that path too, its pieces and their tails: every
// kernel of every family, masked or not, must leave the bits it leaves unstaged. (No NaN
// factors: a NaN product would hide what the staging did before it.)
TEST(KernelFamilies, StagedPartnersLeaveTheSameBits) {
    struct Unstage {
        ~Unstage() { stage_partners_from(0); }
    } unstage;
    constexpr unsigned n = 11;
    constexpr std::uint64_t size = std::uint64_t{1} << n;
    for (const KernelFamily* family : supported_kernels()) {
        for (unsigned t = 0; t < n; ++t) {
            const std::uint64_t half = std::uint64_t{1} << t, whole[1] = {0};
            const std::uint64_t starts[2] = {0, 2 * half + (t + 1 < n ? 1 : 0)};
            const std::uint64_t count = starts[1] + 2 * half <= size ? 2 : 1;
            const auto apply = [&](Complex* state) {
                for (const unsigned slots : {kAllSlots, 1u, 2u}) {
                    family->matrix_blocks(state, whole, 1, size, t, kMatrix, slots);
                    family->matrix_blocks(state, whole, 1, size, t, kRealMatrices[0], slots);
                    family->flip_blocks(state, whole, 1, size, t, slots);
                    for (const std::uint64_t length : {half, half - half / 3, std::uint64_t{1}}) {
                        family->matrix_runs(state, starts, count, length, half, kMatrix, slots);
                        family->matrix_runs(state, starts, count, length, half, kRealMatrices[2],
                                            slots);
                        family->flip_runs(state, starts, count, length, half, slots);
                        family->diagonal_runs(state, starts, count, length, half, kPhases);
                        family->hadamard_runs(state, starts, count, length, half);
                    }
                }
                family->diagonal_blocks(state, whole, 1, size, t, kPhases);
                family->hadamard_blocks(state, whole, 1, size, t);
            };
            std::vector<Complex> direct = awkward_state(size, t);
            stage_partners_from(0);
            apply(direct.data());
            for (const std::uint64_t from : {1, 8}) {
                SCOPED_TRACE(::testing::Message()
                             << family->name << " target " << t << " staged from " << from);
                std::vector<Complex> staged = awkward_state(size, t);
                stage_partners_from(from);
                apply(staged.data());
                EXPECT_TRUE(same_state(staged, direct));
            }
        }
    }
}

TEST(KernelFamilies, SlotMasksChangeOnlyTheirSlots) {
    for (const KernelFamily* family : fast_families()) {
        for (const bool real : {false, true}) {
            const Matrix2& matrix = real ? kRealMatrices[2] : kMatrix;
            const std::uint64_t width = std::uint64_t{1} << family->vector_log2;
            for (unsigned slots = 0; slots < (1u << width); ++slots) {
                for (std::uint64_t length : {width, 3 * width, 3 * width + 1, 4 * width}) {
                    SCOPED_TRACE(::testing::Message()
                                 << family->name << " slots " << slots << " length " << length
                                 << (real ? " real" : ""));
                    const std::uint64_t half = 32, starts[2] = {0, 64};
                    const std::vector<Complex> before = awkward_state(128, slots * 7 + length);
                    std::vector<Complex> expected = before, fast = before;
                    kPlainKernels.matrix_runs(expected.data(), starts, 2, length, half, matrix,
                                              kAllSlots);
                    for (std::uint64_t i = 0; i < expected.size(); ++i) {
                        if (((slots >> (i % width)) & 1) == 0) expected[i] = before[i];
                    }
                    family->matrix_runs(fast.data(), starts, 2, length, half, matrix, slots);
                    EXPECT_TRUE(same_state(fast, expected));
                }
                for (unsigned t = 0; t < family->vector_log2; ++t) {
                    SCOPED_TRACE(::testing::Message() << family->name << " slots " << slots
                                                      << " in-register target " << t);
                    const std::uint64_t start[1] = {0};
                    const std::vector<Complex> before = awkward_state(16, slots * 5 + t);
                    std::vector<Complex> expected = before, fast = before;
                    kPlainKernels.matrix_blocks(expected.data(), start, 1, 16, t, matrix,
                                                kAllSlots);
                    for (std::uint64_t i = 0; i < expected.size(); ++i) {
                        if (((slots >> (i % width)) & 1) == 0) expected[i] = before[i];
                    }
                    family->matrix_blocks(fast.data(), start, 1, 16, t, matrix, slots);
                    EXPECT_TRUE(same_state(fast, expected));
                }
            }
        }
    }
}

// The controlled driver splits its work by the family's register width, so this also
// covers the slot masks of controls inside a register.
void expect_controlled_same_as_plain(const KernelFamily& family, unsigned n, std::uint64_t controls,
                                     unsigned target) {
    SCOPED_TRACE(::testing::Message()
                 << family.name << " n " << n << " controls " << controls << " target " << target);
    expect_same_as_plain(
        family, std::size_t{1} << n, controls * 64 + target,
        [&](const KernelFamily& f, Complex* state) {
            apply_controlled({state, std::size_t{1} << n}, n, controls, target, kMatrix, f);
        });
}

TEST(KernelFamilies, ControlledMatchesPlainForEveryArrangementUpToSixQubits) {
    for (const KernelFamily* family : fast_families()) {
        for (unsigned n = 1; n <= 6; ++n) {
            for (unsigned target = 0; target < n; ++target) {
                for (std::uint64_t controls = 0; controls < (std::uint64_t{1} << n); ++controls) {
                    if ((controls >> target) & 1) continue;
                    expect_controlled_same_as_plain(*family, n, controls, target);
                }
            }
        }
    }
}

TEST(KernelFamilies, ControlledMatchesPlainForSampledArrangementsUpToTwelveQubits) {
    std::mt19937_64 rng(12);
    for (const KernelFamily* family : fast_families()) {
        for (unsigned n = 7; n <= 12; ++n) {
            for (int sample = 0; sample < 40; ++sample) {
                const unsigned target = rng() % n;
                // Sparse and dense control sets alike.
                std::uint64_t controls = rng() & ((std::uint64_t{1} << n) - 1);
                if (sample % 2 == 0) controls &= rng();
                controls &= ~(std::uint64_t{1} << target);
                expect_controlled_same_as_plain(*family, n, controls, target);
            }
        }
    }
}

TEST(IndexRuns, VisitEveryIndexWithTheFixedBitsInOrder) {
    std::mt19937_64 rng(3);
    for (int sample = 0; sample < 300; ++sample) {
        const unsigned n = 1 + rng() % 10;
        const std::uint64_t mask = rng() & ((std::uint64_t{1} << n) - 1);
        if (mask == 0) continue;
        const std::uint64_t values = rng() & mask;
        FixedBits fixed;
        for (unsigned p = 0; p < n; ++p) {
            if ((mask >> p) & 1) fixed.add(p, (values >> p) & 1);
        }
        std::vector<std::uint64_t> expected;
        for (std::uint64_t i = 0; i < (std::uint64_t{1} << n); ++i) {
            if ((i & mask) == values) expected.push_back(i);
        }
        std::vector<std::uint64_t> visited;
        const std::uint64_t run = std::uint64_t{1} << fixed.lowest();
        fixed.for_each_run(n, [&](std::uint64_t start) {
            for (std::uint64_t i = 0; i < run; ++i) visited.push_back(start + i);
        });
        ASSERT_EQ(visited, expected) << "mask " << mask << " values " << values;
        for (std::uint64_t j = 0; j < expected.size(); ++j) ASSERT_EQ(fixed.index(j), expected[j]);
        EXPECT_EQ(fixed.last_index(n), expected.back());
    }
}

}  // namespace
}  // namespace qubit
