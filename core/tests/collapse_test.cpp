#include "qubit/measure/collapse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "qubit/measure/outcome_table.h"

namespace qubit {
namespace {

using State = std::vector<Complex>;
using Targets = std::vector<std::uint64_t>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLastDraw = 1.0 - 0x1.0p-53;  // the largest value a draw can take

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool same_bits(Complex a, Complex b) { return same_bits(a.re, b.re) && same_bits(a.im, b.im); }

::testing::AssertionResult same_state(const State& actual, const State& expected) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (!same_bits(actual[i], expected[i])) {
            return ::testing::AssertionFailure()
                   << "index " << i << ": (" << actual[i].re << ", " << actual[i].im
                   << ") instead of (" << expected[i].re << ", " << expected[i].im << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

double up(double x) { return std::nextafter(x, 2.0); }
double down(double x) { return std::nextafter(x, -1.0); }

// ---- An independent model of the rules, written the plain way: bit tests, whole passes.

double probability(Complex a) { return a.re * a.re + a.im * a.im; }

// First entry with probability whose running sum reaches r; else the last with probability.
Selection model_select(const std::vector<double>& p, double r) {
    double s = 0.0;
    for (std::size_t l = 0; l < p.size(); ++l) {
        s = s + p[l];
        if (p[l] > 0.0 && s >= r) return {l, true};
    }
    for (std::size_t l = p.size(); l-- > 0;) {
        if (p[l] > 0.0) return {l, true};
    }
    return {0, false};
}

std::uint64_t model_outcome_of(std::uint64_t j, const Targets& sorted) {
    std::uint64_t l = 0;
    for (std::size_t m = 0; m < sorted.size(); ++m) {
        if (j & (std::uint64_t{1} << sorted[m])) l += std::uint64_t{1} << m;
    }
    return l;
}

std::vector<double> model_table(const State& state, const Targets& sorted) {
    std::vector<double> table(std::size_t{1} << sorted.size(), 0.0);
    for (std::size_t j = 0; j < state.size(); ++j) {
        table[model_outcome_of(j, sorted)] += probability(state[j]);
    }
    return table;
}

double model_kahan_p1(const State& state, unsigned target) {
    double p1 = 0.0;
    double comp = 0.0;
    for (std::size_t i = 0; i < state.size(); ++i) {
        if (!(i & (std::size_t{1} << target))) continue;
        const double y = probability(state[i]) - comp;
        const double t = p1 + y;
        comp = (t - p1) - y;
        p1 = t;
    }
    return p1;
}

// Keeps the indices for which keep(i) holds, divided by g; zeroes the rest.
template <class Keep>
State model_collapse(State state, Keep keep, double g) {
    for (std::size_t i = 0; i < state.size(); ++i) {
        state[i] = keep(i) ? Complex{state[i].re / g, state[i].im / g} : Complex{0.0, 0.0};
    }
    return state;
}

// A normalised state with every amplitude nonzero and no structure.
State random_state(unsigned n, unsigned seed) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    State state(std::size_t{1} << n);
    double total = 0.0;
    for (Complex& a : state) {
        a = {value(engine), value(engine)};
        total += probability(a);
    }
    const double norm = std::sqrt(total);
    for (Complex& a : state) a = {a.re / norm, a.im / norm};
    return state;
}

// ---- The running-sum selection shared by observe and observe_mul.

TEST(RunningSumSelection, DrawOnACumulativeBoundarySelectsTheEntryThatReachesIt) {
    // 32 entries of 1/32: every partial sum is exact, and the blocks the sum is checked in
    // are crossed at every position.
    const std::vector<double> p(32, 1.0 / 32);
    EXPECT_EQ(select_by_running_sum(p, 0.0).outcome, 0u);
    for (std::uint64_t m = 1; m < 32; ++m) {
        const double boundary = m / 32.0;
        EXPECT_EQ(select_by_running_sum(p, boundary).outcome, m - 1) << m;
        EXPECT_EQ(select_by_running_sum(p, up(boundary)).outcome, m) << m;
    }
    EXPECT_EQ(select_by_running_sum(p, kLastDraw).outcome, 31u);

    // The sum is the rounded left-to-right one: 0.1 + 0.2 is 0.30000000000000004.
    const std::vector<double> rounded = {0.1, 0.2, 0.7};
    EXPECT_EQ(select_by_running_sum(rounded, 0.1 + 0.2).outcome, 1u);
    EXPECT_EQ(select_by_running_sum(rounded, up(0.1 + 0.2)).outcome, 2u);
}

TEST(RunningSumSelection, NeverSelectsAnOutcomeWithoutProbability) {
    // A draw of 0 passes leading zero entries, also beyond the first block.
    EXPECT_EQ(select_by_running_sum(std::vector<double>{0, 0, 0.5, 0.5}, 0.0).outcome, 2u);
    std::vector<double> late(21, 0.0);
    late[20] = 1.0;
    EXPECT_EQ(select_by_running_sum(late, 0.0).outcome, 20u);

    // A draw the sum never reaches takes the last outcome with probability, not 0.
    EXPECT_EQ(select_by_running_sum(std::vector<double>{0.5, 0.25, 0, 0}, 0.9).outcome, 1u);
    std::vector<double> short_total(40, 0.0);
    for (std::size_t l = 0; l < 30; ++l) short_total[l] = 0.01;
    EXPECT_EQ(select_by_running_sum(short_total, 0.9).outcome, 29u);

    // Nothing to select at all.
    const Selection none = select_by_running_sum(std::vector<double>(12, 0.0), 0.5);
    EXPECT_EQ(none.outcome, 0u);
    EXPECT_FALSE(none.has_mass);
    EXPECT_FALSE(select_by_running_sum(std::vector<double>{0.0}, 0.0).has_mass);
}

TEST(RunningSumSelection, NaNProbabilitiesAreNeverSelected) {
    // Before the NaN the rule is unchanged; after it the sum cannot reach the draw, and the
    // last outcome with a positive probability is taken.
    std::vector<double> p = {0.25, kNaN, 0.5, 0.0};
    EXPECT_EQ(select_by_running_sum(p, 0.1).outcome, 0u);
    EXPECT_EQ(select_by_running_sum(p, 0.5).outcome, 2u);
    std::vector<double> long_p(12, 0.0);
    long_p[3] = kNaN;
    long_p[10] = 0.5;
    EXPECT_EQ(select_by_running_sum(long_p, 0.25).outcome, 10u);
    long_p[0] = 0.5;  // reached before the NaN in the same block
    EXPECT_EQ(select_by_running_sum(long_p, 0.25).outcome, 0u);
    const Selection only_nan = select_by_running_sum(std::vector<double>{kNaN, kNaN}, 0.0);
    EXPECT_EQ(only_nan.outcome, 0u);
    EXPECT_FALSE(only_nan.has_mass);
}

// ---- Whole-register measurement.

State basis_state(std::size_t dim, std::size_t index) {
    State state(dim, Complex{0.0, 0.0});
    state[index] = {1.0, 0.0};
    return state;
}

TEST(ObserveAll, LeavesExactlyOnePlusZeroIAtTheOutcome) {
    State state(8, Complex{0.0, 0.0});
    state[5] = {0.0, -1.0};  // the phase is not kept; index 0 (probability 0) is not taken
    EXPECT_EQ(select_and_collapse_all(state, 0.0), 5u);
    EXPECT_TRUE(same_state(state, basis_state(8, 5)));

    for (const double r : {0.0, 0.3, 0.5, 0.9, kLastDraw}) {
        State random = random_state(5, 7);
        std::vector<double> p;
        for (const Complex& a : random) p.push_back(probability(a));
        const std::uint64_t expected = model_select(p, r).outcome;
        EXPECT_EQ(select_and_collapse_all(random, r), expected) << r;
        EXPECT_TRUE(same_state(random, basis_state(32, expected))) << r;
    }

    State one_amplitude = {{0.0, 1.0}};  // a register of 0 qubits
    EXPECT_EQ(select_and_collapse_all(one_amplitude, kLastDraw), 0u);
    EXPECT_TRUE(same_bits(one_amplitude[0], {1.0, 0.0}));
}

TEST(ObserveAll, UnreachedDrawTakesTheLastOutcomeWithProbability) {
    State short_total = {{0.5, 0.0}, {0.0, 0.5}, {0.0, 0.0}, {0.0, 0.0}};  // total 0.5
    EXPECT_EQ(select_and_collapse_all(short_total, 0.75), 1u);
    EXPECT_TRUE(same_state(short_total, basis_state(4, 1)));

    State empty(4, Complex{0.0, 0.0});
    EXPECT_EQ(select_and_collapse_all(empty, 0.75), 0u);
    EXPECT_TRUE(same_state(empty, basis_state(4, 0)));
}

// ---- One-qubit measurement.

TEST(ObserveOne, ProbabilityOfOneIsTheCompensatedSum) {
    // Over indices 1, 3, 5, 7: 1 + 2^-53 + 2^-53 + 0. A plain sum loses both small terms
    // (1 + 2^-53 rounds to 1 each time); the compensated one keeps them.
    State state(8, Complex{0.0, 0.0});
    state[1] = {1.0, 0.0};
    state[3] = {0x1.0p-27, 0x1.0p-27};
    state[5] = {0x1.0p-27, 0x1.0p-27};
    const QubitOneSum sum = sum_qubit_one(state, 0);
    EXPECT_TRUE(same_bits(sum.p1, 1.0 + 0x1.0p-52));
    EXPECT_TRUE(sum.zero_half_empty);
}

TEST(ObserveOne, OutcomeOneExactlyWhenTheDrawIsBelowP1) {
    const double s = 0.7071067811865476;  // 1/sqrt(2) rounded
    const State plus = {{s, 0.0}, {s, 0.0}};
    const double p1 = s * s;

    State below = plus;
    EXPECT_EQ(select_and_collapse_one(below, 0, sum_qubit_one(below, 0), down(p1)), 1u);
    EXPECT_TRUE(same_state(below, {{0.0, 0.0}, {s / std::sqrt(p1), 0.0}}));

    State at = plus;
    EXPECT_EQ(select_and_collapse_one(at, 0, sum_qubit_one(at, 0), p1), 0u);
    EXPECT_TRUE(same_state(at, {{s / std::sqrt(1.0 - p1), 0.0}, {0.0, 0.0}}));
}

TEST(ObserveOne, CollapseMatchesAnIndependentCalculation) {
    for (unsigned target = 0; target < 5; ++target) {
        for (const double r : {0.0, kLastDraw}) {  // outcome 1, outcome 0
            State state = random_state(5, 100 + target);
            const State before = state;
            const double p1 = model_kahan_p1(before, target);
            const std::uint64_t outcome =
                select_and_collapse_one(state, target, sum_qubit_one(state, target), r);
            ASSERT_EQ(outcome, r == 0.0 ? 1u : 0u);
            const double g = outcome == 1 ? std::sqrt(p1) : std::sqrt(1.0 - p1);
            const auto keep = [&](std::size_t i) { return ((i >> target) & 1) == outcome; };
            EXPECT_TRUE(same_state(state, model_collapse(before, keep, g))) << target;
        }
    }
}

TEST(ObserveOne, EmptyZeroHalfMeansOutcomeOne) {
    // p1 = 0.25 without anything in the 0 half: a draw above p1 must not leave an empty state.
    State short_total = {{0.0, 0.0}, {0.5, 0.0}};
    EXPECT_EQ(select_and_collapse_one(short_total, 0, sum_qubit_one(short_total, 0), 0.9), 1u);
    EXPECT_TRUE(same_state(short_total, {{0.0, 0.0}, {1.0, 0.0}}));

    // p1 rounded just below 1 and the largest draw.
    const double a = 1.0 - 0x1.0p-53;
    State nearly = {{0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}, {0.0, a}};
    EXPECT_EQ(select_and_collapse_one(nearly, 1, sum_qubit_one(nearly, 1), kLastDraw), 1u);
    EXPECT_TRUE(same_bits(nearly[3], {0.0, a / std::sqrt(a * a)}));

    // With any probability in the 0 half the draw decides, even for an unnormalised state,
    // and the complement is taken from p1.
    State both = {{0.5, 0.0}, {0.5, 0.0}};
    EXPECT_EQ(select_and_collapse_one(both, 0, sum_qubit_one(both, 0), 0.25), 0u);
    EXPECT_TRUE(same_state(both, {{0.5 / std::sqrt(0.75), 0.0}, {0.0, 0.0}}));

    // Certain outcomes keep their amplitudes as they are (division by sqrt(1)).
    State certain_zero = {{0.0, -1.0}, {0.0, 0.0}};
    EXPECT_EQ(select_and_collapse_one(certain_zero, 0, sum_qubit_one(certain_zero, 0), 0.0), 0u);
    EXPECT_TRUE(same_state(certain_zero, {{0.0, -1.0}, {0.0, 0.0}}));
    State certain_one = {{0.0, 0.0}, {0.0, -1.0}};
    EXPECT_EQ(select_and_collapse_one(certain_one, 0, sum_qubit_one(certain_one, 0), kLastDraw),
              1u);
    EXPECT_TRUE(same_state(certain_one, {{0.0, 0.0}, {0.0, -1.0}}));

    // A NaN p1 is not "some probability": the draw rule stands and gives 0.
    State nan_one = {{0.0, 0.0}, {kNaN, 0.0}};
    EXPECT_EQ(select_and_collapse_one(nan_one, 0, sum_qubit_one(nan_one, 0), 0.0), 0u);
}

// ---- Joint measurement of several qubits.

TEST(OutcomeTable, MatchesIndependentGathering) {
    // 12 qubits: more index bits than the lookup of the low bits covers.
    const State state = random_state(12, 3);
    const std::vector<Targets> target_sets = {
        {},        {0},       {11},          {0, 11},  {1, 1},
        {3, 3, 7}, {0, 1, 5}, {2, 5, 9, 10}, {10, 11}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
    for (const Targets& targets : target_sets) {
        const OutcomeTable table(state, targets);
        const std::vector<double> expected = model_table(state, targets);
        ASSERT_EQ(table.entries().size(), expected.size());
        for (std::size_t l = 0; l < expected.size(); ++l) {
            ASSERT_TRUE(same_bits(table.entries()[l], expected[l]))
                << "targets of size " << targets.size() << ", entry " << l;
        }
    }
}

TEST(ObserveMul, CollapseMatchesAnIndependentCalculation) {
    // Five qubits, then ten: runs of 2^8 and 2^9 indices are long enough to be zeroed apart
    // from the kept ones.
    const std::vector<std::pair<unsigned, Targets>> cases = {
        {5, {0}},     {5, {4}},       {5, {0, 2}},          {5, {1, 3, 4}}, {5, {0, 1, 4}},
        {5, {2, 2}},  {5, {1, 2, 3}}, {5, {0, 1, 2, 3, 4}}, {10, {8}},      {10, {9}},
        {10, {8, 9}}, {10, {2, 8}},   {10, {0, 5, 9}}};
    for (const auto& [n, targets_of_case] : cases) {
        const Targets& targets = targets_of_case;  // clang 14 cannot capture a binding
        for (const double r : {0.0, 0.3, 0.7, kLastDraw}) {
            State state = random_state(n, 40);
            const State before = state;
            const std::vector<double> table = model_table(before, targets);
            const std::uint64_t expected = model_select(table, r).outcome;
            const std::uint64_t outcome =
                select_and_collapse_joint(state, targets, OutcomeTable(state, targets), r);
            ASSERT_EQ(outcome, expected);
            const auto keep = [&](std::size_t j) {
                return model_outcome_of(j, targets) == outcome;
            };
            EXPECT_TRUE(same_state(state, model_collapse(before, keep, std::sqrt(table[outcome]))))
                << "targets of size " << targets.size() << ", draw " << r;
        }
    }
}

TEST(ObserveMul, DuplicateTargetsYieldEqualDigits) {
    // Qubit 1 is certainly 1: for [1, 1] only outcome 3 has probability, and a draw of 0
    // must not select the empty outcome 0.
    const double s = 0.7071067811865476;
    const Targets twice = {1, 1};
    State certain = {{0.0, 0.0}, {0.0, 0.0}, {s, 0.0}, {0.0, s}};
    EXPECT_EQ(select_and_collapse_joint(certain, twice, OutcomeTable(certain, twice), 0.0), 3u);

    for (int step = 0; step < 16; ++step) {
        State state = random_state(3, 5);
        const std::uint64_t outcome =
            select_and_collapse_joint(state, twice, OutcomeTable(state, twice), step / 16.0);
        EXPECT_TRUE(outcome == 0 || outcome == 3) << outcome;
    }
}

TEST(ObserveMul, NoTargetsRenormaliseByTheTotalProbability) {
    const State before = {{0.5, 0.0}, {0.0, 0.5}, {0.0, 0.0}, {-0.5, 0.0}};  // total 0.75
    State state = before;
    EXPECT_EQ(select_and_collapse_joint(state, {}, OutcomeTable(state, {}), 0.5), 0u);
    const double g = std::sqrt(0.75);
    EXPECT_TRUE(same_state(state, {{0.5 / g, 0.0}, {0.0, 0.5 / g}, {0.0, 0.0}, {-0.5 / g, 0.0}}));
}

TEST(ObserveMul, DrawsTheSumDoesNotReachAndEmptyTables) {
    // Total 0.5: a draw of 0.75 takes outcome 1, the last with probability, not 0.
    const Targets low = {0};
    State short_total = {{0.5, 0.0}, {0.5, 0.0}, {0.0, 0.0}, {0.0, 0.0}};
    EXPECT_EQ(select_and_collapse_joint(short_total, low, OutcomeTable(short_total, low), 0.75),
              1u);
    EXPECT_TRUE(same_state(short_total, {{0.0, 0.0}, {1.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}}));

    // One qubit, measured alone.
    State single = {{0.6, 0.0}, {0.0, 0.8}};
    EXPECT_EQ(select_and_collapse_joint(single, low, OutcomeTable(single, low), 0.5), 1u);
    EXPECT_TRUE(same_state(single, {{0.0, 0.0}, {0.0, 0.8 / std::sqrt(0.8 * 0.8)}}));

    // Every probability underflows to 0: outcome 0, nothing divided by 0.
    const State tiny = {{1e-200, 0.0}, {0.0, -1e-200}};
    State state = tiny;
    EXPECT_EQ(select_and_collapse_joint(state, low, OutcomeTable(state, low), 0.0), 0u);
    EXPECT_TRUE(same_state(state, tiny));
}

// Shared out over threads, every collapse leaves the bits that one thread leaves: the whole
// register, one qubit (low, middle, top) and joint targets, at 18 qubits (four pieces).
TEST(Collapse, ThreadsLeaveTheSameBitsAsOne) {
    constexpr unsigned n = 18;
    const State start = random_state(n, 41);
    for (const unsigned threads : {2u, 3u}) {
        for (const double r : {0.2, 0.9}) {
            State one = start, many = start;
            EXPECT_EQ(select_and_collapse_all(many, r, threads), select_and_collapse_all(one, r));
            EXPECT_TRUE(same_state(many, one));
            for (const unsigned target : {0u, 9u, 17u}) {
                one = start, many = start;
                const QubitOneSum sum = sum_qubit_one(start, target);
                EXPECT_EQ(select_and_collapse_one(many, target, sum, r, threads),
                          select_and_collapse_one(one, target, sum, r));
                EXPECT_TRUE(same_state(many, one)) << "target " << target;
            }
            for (const Targets& targets : {Targets{0, 1}, Targets{3, 3, 12}, Targets{16, 17}}) {
                one = start, many = start;
                const OutcomeTable table(start, targets);
                EXPECT_EQ(select_and_collapse_joint(many, targets, table, r, threads),
                          select_and_collapse_joint(one, targets, table, r));
                EXPECT_TRUE(same_state(many, one)) << "targets from " << targets[0];
            }
        }
    }
}

}  // namespace
}  // namespace qubit
