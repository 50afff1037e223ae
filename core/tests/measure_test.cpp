#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fatal_text.h"
#include "qubit/measure/probability_readout.h"
#include "qubit/random/chacha12.h"
#include "qubit/random/os_random.h"
#include "qubit/random/thread_rng.h"
#include "qubit/register/register.h"
#include "qubit/state/fatal_error.h"

namespace qubit {
namespace {

using testing::fatal_text;

std::vector<Complex> copy_of(const QuantumRegister& reg) {
    return {reg.state().begin(), reg.state().end()};
}

bool unchanged(const QuantumRegister& reg, const std::vector<Complex>& before) {
    return std::memcmp(reg.state().data(), before.data(), reg.state().size_bytes()) == 0;
}

// Three qubits with amplitude on |101> and |110>: no measurement of it is trivial.
QuantumRegister mixed_register() {
    QuantumRegister reg(3, 1 << 20);
    reg.state()[0] = {0.0, 0.0};
    reg.state()[5] = {0.6, 0.0};
    reg.state()[6] = {0.0, -0.8};
    return reg;
}

// ---- Argument checks come before any work and any draw.

Result<ChaChaKey> refusing_source() { return Failure{"no entropy in this test"}; }
Result<ChaChaKey> zero_key_source() { return ChaChaKey{}; }

class Measurement : public ::testing::Test {
protected:
    void TearDown() override {
        if (previous_ != nullptr) replace_thread_key_source(previous_);
    }
    // Generators are per thread, so each use runs on a new thread that seeds from `source`.
    void on_thread_seeded_from(KeySource source, auto body) {
        const KeySource previous = replace_thread_key_source(source);
        if (previous_ == nullptr) previous_ = previous;
        std::thread(body).join();
    }

private:
    KeySource previous_ = nullptr;
};

TEST_F(Measurement, TargetsOutsideTheRegisterFailBeforeAnything) {
    on_thread_seeded_from(refusing_source, [] {
        QuantumRegister reg = mixed_register();
        const std::vector<Complex> before = copy_of(reg);
        EXPECT_EQ(fatal_text([&] { (void)reg.observe_one(3); }), "target out of scope!");
        EXPECT_EQ(fatal_text([&] { (void)reg.observe_mul({0, 1, 3}); }), "target out of scope!");
        // The range is checked before the length.
        Qubits long_list(60, 1);
        long_list.push_back(3);
        EXPECT_EQ(fatal_text([&] { (void)reg.observe_mul(long_list); }), "target out of scope!");
        EXPECT_EQ(fatal_text([&] { (void)reg.observe_mul(Qubits(60, 2)); }), "capacity overflow");
        EXPECT_TRUE(unchanged(reg, before));

        QuantumRegister empty(0, 16);
        EXPECT_EQ(fatal_text([&] { (void)empty.observe_one(0); }), "target out of scope!");
    });
}

TEST_F(Measurement, AnOutcomeTableThatCannotBeHadIsAFatalErrorNamingItsBytes) {
    on_thread_seeded_from(refusing_source, [] {
        QuantumRegister reg = mixed_register();
        const std::vector<Complex> before = copy_of(reg);
        EXPECT_EQ(fatal_text([&] { (void)reg.observe_mul(Qubits(50, 1)); }),
                  "memory allocation of 9007199254740992 bytes failed (outcome table of 50 "
                  "measured qubits)");
        EXPECT_EQ(fatal_text([&] { (void)reg.observe_mul(Qubits(59, 0)); }),
                  "memory allocation of 4611686018427387904 bytes failed (outcome table of 59 "
                  "measured qubits)");
        EXPECT_TRUE(unchanged(reg, before));
    });
}

TEST_F(Measurement, AGeneratorThatCannotBeSeededLeavesTheRegisterUnchanged) {
    on_thread_seeded_from(refusing_source, [] {
        QuantumRegister reg = mixed_register();
        const std::vector<Complex> before = copy_of(reg);
        const std::string failure = "could not initialize ThreadRng: no entropy in this test";
        EXPECT_EQ(fatal_text([&] { (void)reg.observe(); }), failure);
        EXPECT_EQ(fatal_text([&] { (void)reg.observe_one(2); }), failure);
        EXPECT_EQ(fatal_text([&] { (void)reg.observe_mul({2, 0}); }), failure);
        EXPECT_TRUE(unchanged(reg, before));
    });
}

TEST_F(Measurement, EachMeasurementDrawsExactlyOnce) {
    // With a known key the stream is known: after one measurement the next draw must be the
    // stream's second one.
    const auto words = chacha12_block(ChaChaKey{}, 0);
    const double second_draw = unit_double_from(words[2] | std::uint64_t{words[3]} << 32);
    const std::vector<void (*)(QuantumRegister&)> measurements = {
        [](QuantumRegister& reg) { (void)reg.observe(); },
        [](QuantumRegister& reg) { (void)reg.observe_one(1); },
        [](QuantumRegister& reg) {
            (void)reg.observe_mul({2, 0});
        },
        [](QuantumRegister& reg) { (void)reg.observe_mul({}); },
    };
    for (const auto measure : measurements) {
        on_thread_seeded_from(zero_key_source, [&] {
            QuantumRegister reg = mixed_register();
            measure(reg);
            EXPECT_EQ(draw_f64(), second_draw);
        });
    }
}

// ---- Results at the register's face.

TEST(MeasureRegister, KetsCarryTheOutcomeAndTheWidth) {
    QuantumRegister fresh(3, 1 << 20);
    EXPECT_EQ(fresh.observe().text(), "|000>");
    QuantumRegister none(0, 16);
    const DiracKet empty = none.observe();
    EXPECT_EQ(empty.value, 0u);
    EXPECT_EQ(empty.width, 0u);

    // |100>: qubit 2 is 1, qubit 0 is 0, whatever order the caller lists them in.
    for (const Qubits& order : {Qubits{2, 0}, Qubits{0, 2}}) {
        QuantumRegister reg(3, 1 << 20);
        reg.state()[0] = {0.0, 0.0};
        reg.state()[4] = {0.0, 1.0};
        const DiracKet ket = reg.observe_mul(order);
        EXPECT_EQ(ket.value, 2u);
        EXPECT_EQ(ket.text(), "|10>");
        EXPECT_EQ(reg.observe_one(2).text(), "|1>");
        EXPECT_EQ(reg.observe_one(0).width, 1u);
    }
}

TEST(MeasureRegister, GodObserveReadsProbabilitiesAndChangesNothing) {
    const std::vector<double> fresh = QuantumRegister(3, 1 << 20).god_observe();
    EXPECT_EQ(fresh, (std::vector<double>{1, 0, 0, 0, 0, 0, 0, 0}));

    const QuantumRegister reg = mixed_register();
    const std::vector<Complex> before = copy_of(reg);
    const std::vector<double> first = reg.god_observe();
    EXPECT_EQ(first, (std::vector<double>{0, 0, 0, 0, 0, 0.6 * 0.6, 0.8 * 0.8, 0}));
    EXPECT_EQ(reg.god_observe(), first);
    EXPECT_TRUE(unchanged(reg, before));
}

TEST(MeasureRegister, ReadOutChecksTheMemoryTheListWillNeed) {
    const QuantumRegister reg(4, 1 << 20);  // 16 states, 640 bytes with the list
    EXPECT_EQ(probabilities(reg.state(), 640).size(), 16u);
    EXPECT_EQ(fatal_text([&] { (void)probabilities(reg.state(), 639); }),
              "Not enough memory to read out the probabilities of 16 basis states: this needs 640 "
              "bytes of memory (40 per basis state, the list included) and 639 bytes are "
              "available");
    EXPECT_EQ(fatal_text([] { (void)reserved_doubles(std::uint64_t{1} << 50); }),
              "memory allocation of 9007199254740992 bytes failed");
}

}  // namespace
}  // namespace qubit
