#include "qubit/random/chacha12.h"

#include <gtest/gtest.h>

#include <vector>

#include "chacha12_testdata.h"

namespace qubit {
namespace {

using namespace testdata;

std::vector<std::uint32_t> block_words(const ChaChaKey& key, std::uint64_t counter,
                                       std::uint64_t nonce = 0) {
    const auto block = chacha12_block(key, counter, nonce);
    return {block.begin(), block.end()};
}

TEST(ChaCha12Block, PublishedVectors) {
    // Zero key and nonce, blocks 0 and 1.
    const auto zero_stream =
        le_words(hex_bytes(field(chacha12_json(), "published_tc1_key_zero_blocks_0_1_hex")));
    ASSERT_EQ(zero_stream.size(), 32u);
    const auto middle = zero_stream.begin() + 16;
    EXPECT_EQ(block_words(ChaChaKey{}, 0), std::vector(zero_stream.begin(), middle));
    EXPECT_EQ(block_words(ChaChaKey{}, 1), std::vector(middle, zero_stream.end()));

    // A non-zero nonce: its bytes fill words 14-15 little-endian.
    const std::string tc7 = section("published_tc7");
    const auto nonce_words = le_words(hex_bytes(field(tc7, "nonce")));
    const std::uint64_t nonce = nonce_words[0] | std::uint64_t{nonce_words[1]} << 32;
    const auto prefix = le_words(hex_bytes(field(tc7, "block0_prefix_hex")));
    const auto block = block_words(hex_key(field(tc7, "key")), 0, nonce);
    EXPECT_EQ(std::vector(block.begin(), block.begin() + prefix.size()), prefix);

    const std::string counted = section("key_00_to_1f");
    const ChaChaKey key = hex_key(field(counted, "key"));
    const auto words = [](const std::vector<std::uint64_t>& v) {
        return std::vector<std::uint32_t>(v.begin(), v.end());
    };
    EXPECT_EQ(block_words(key, 0), words(integers(field(counted, "block0_words"))));
    EXPECT_EQ(block_words(key, 1), words(integers(field(counted, "block1_words"))));
}

// Counter words 12 and 13 hold the low and high halves: a carry into the high word must not
// wrap within the low one.
TEST(ChaCha12Block, CounterHighWordMatters) {
    EXPECT_NE(block_words(ChaChaKey{}, std::uint64_t{1} << 32), block_words(ChaChaKey{}, 0));
}

KeySource never_rekeyed = []() -> Result<ChaChaKey> {
    ADD_FAILURE() << "re-keyed too early";
    return Failure{"no"};
};

TEST(ChaCha12Stream, WordsAndPairsFollowTheBlocksInOrder) {
    const ChaChaKey key = hex_key(field(section("key_00_to_1f"), "key"));
    ChaCha12Stream stream(key, never_rekeyed);
    for (std::uint64_t expected : integers(field(section("key_00_to_1f"), "first_16_draw_u64"))) {
        EXPECT_EQ(stream.next_u64(), expected);
    }

    // An odd start makes every pair straddle a block, and some a refill; the side-by-side
    // blocks of a refill must equal the plain block function.
    ChaCha12Stream odd(key, never_rekeyed);
    std::vector<std::uint32_t> expected;
    for (std::uint64_t b = 0; b < 3 * ChaCha12Stream::kBlocksPerRefill; ++b) {
        const auto words = block_words(key, b);
        expected.insert(expected.end(), words.begin(), words.end());
    }
    std::vector<std::uint32_t> got{odd.next_u32()};
    while (got.size() + 1 < expected.size()) {
        const std::uint64_t pair = odd.next_u64();
        got.push_back(static_cast<std::uint32_t>(pair));
        got.push_back(static_cast<std::uint32_t>(pair >> 32));
    }
    got.push_back(odd.next_u32());
    EXPECT_EQ(got, expected);
}

// Scripted key source: the calls listed in g_rekey_fails fail, the others give key_after.
int g_rekey_calls = 0;
std::vector<bool> g_rekey_fails;

Result<ChaChaKey> scripted_rekey() {
    const std::size_t call = g_rekey_calls++;
    if (call < g_rekey_fails.size() && g_rekey_fails[call]) return Failure{"pool dry"};
    return hex_key(field(section("rekey_after_1024_blocks"), "key_after"));
}

constexpr int kDrawsPerKey = 1024 * 8;

TEST(ChaCha12Stream, RekeysAfter1024Blocks) {
    g_rekey_calls = 0;
    g_rekey_fails = {};
    const std::string rekey = section("rekey_after_1024_blocks");
    ChaCha12Stream stream(hex_key(field(rekey, "key_before")), scripted_rekey);
    for (int i = 0; i < kDrawsPerKey - 8; ++i) (void)stream.next_u64();
    EXPECT_EQ(g_rekey_calls, 0);
    for (std::uint64_t expected : integers(field(rekey, "block1023_then_new_block0_draw_u64"))) {
        EXPECT_EQ(stream.next_u64(), expected);
    }
    EXPECT_EQ(g_rekey_calls, 1);
    EXPECT_EQ(stream.block_counter(), ChaCha12Stream::kBlocksPerRefill);
}

TEST(ChaCha12Stream, FailedRekeyKeepsTheOldKeyAndRetriesAtTheNextRefill) {
    g_rekey_calls = 0;
    g_rekey_fails = {true};
    const std::string rekey = section("rekey_after_1024_blocks");
    const ChaChaKey before = hex_key(field(rekey, "key_before"));
    ChaCha12Stream stream(before, scripted_rekey);
    for (int i = 0; i < kDrawsPerKey; ++i) (void)stream.next_u64();
    // The old key goes on past its 1024 blocks: the words of blocks 1024, 1025, ...
    for (std::uint64_t b = 1024; b < 1024 + ChaCha12Stream::kBlocksPerRefill; ++b) {
        for (std::uint32_t word : block_words(before, b)) EXPECT_EQ(stream.next_u32(), word);
    }
    EXPECT_EQ(g_rekey_calls, 1);
    const ChaChaKey after = hex_key(field(rekey, "key_after"));
    for (std::uint32_t word : block_words(after, 0)) EXPECT_EQ(stream.next_u32(), word);
    EXPECT_EQ(g_rekey_calls, 2);
}

}  // namespace
}  // namespace qubit
