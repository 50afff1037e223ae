#include "qubit/random/chacha12.h"

namespace qubit {
namespace {

constexpr int kDoubleRounds = 6;  // 12 rounds

// "expand 32-byte k"
constexpr std::uint32_t kSigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

constexpr std::uint32_t rotl(std::uint32_t v, int bits) { return (v << bits) | (v >> (32 - bits)); }

std::array<std::uint32_t, 8> key_words(const ChaChaKey& key) {
    std::array<std::uint32_t, 8> words;
    for (std::size_t i = 0; i < words.size(); ++i) {
        words[i] = std::uint32_t{key[4 * i]} | std::uint32_t{key[4 * i + 1]} << 8 |
                   std::uint32_t{key[4 * i + 2]} << 16 | std::uint32_t{key[4 * i + 3]} << 24;
    }
    return words;
}

void quarter_round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) {
    a += b, d = rotl(d ^ a, 16);
    c += d, b = rotl(b ^ c, 12);
    a += b, d = rotl(d ^ a, 8);
    c += d, b = rotl(b ^ c, 7);
}

std::array<std::uint32_t, kChaChaBlockWords> initial_state(const std::array<std::uint32_t, 8>& key,
                                                           std::uint64_t counter,
                                                           std::uint64_t nonce) {
    return {kSigma[0],
            kSigma[1],
            kSigma[2],
            kSigma[3],
            key[0],
            key[1],
            key[2],
            key[3],
            key[4],
            key[5],
            key[6],
            key[7],
            static_cast<std::uint32_t>(counter),
            static_cast<std::uint32_t>(counter >> 32),
            static_cast<std::uint32_t>(nonce),
            static_cast<std::uint32_t>(nonce >> 32)};
}

// Four blocks side by side: one vector per state word, lane l holding block counter + l. A
// generic vector type lowers to SSE2 on any x86-64 and still reads as the plain rounds.
using Lanes = std::uint32_t __attribute__((vector_size(16)));
constexpr std::size_t kLanes = 4;
static_assert(ChaCha12Stream::kBlocksPerRefill == kLanes);

inline Lanes rotl(Lanes v, int bits) { return (v << bits) | (v >> (32 - bits)); }

inline void quarter_round(Lanes& a, Lanes& b, Lanes& c, Lanes& d) {
    a += b, d = rotl(d ^ a, 16);
    c += d, b = rotl(b ^ c, 12);
    a += b, d = rotl(d ^ a, 8);
    c += d, b = rotl(b ^ c, 7);
}

// The twelve rounds, as six double rounds (columns, then diagonals), over the sixteen words
// of one block or of several blocks side by side.
template <class Words>
void rounds(Words& x) {
    for (int i = 0; i < kDoubleRounds; ++i) {
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
}

// Blocks counter ... counter + 3 (nonce 0), written one after the other to `out` in stream
// order. The same arithmetic as chacha12_block, lane by lane.
void chacha12_four_blocks(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                          std::uint32_t* out) {
    Lanes input[kChaChaBlockWords];
    for (std::size_t l = 0; l < kLanes; ++l) {
        const auto state = initial_state(key, counter + l, 0);
        for (std::size_t w = 0; w < kChaChaBlockWords; ++w) input[w][l] = state[w];
    }
    Lanes x[kChaChaBlockWords];
    for (std::size_t w = 0; w < kChaChaBlockWords; ++w) x[w] = input[w];
    rounds(x);
    for (std::size_t w = 0; w < kChaChaBlockWords; ++w) x[w] += input[w];
    for (std::size_t l = 0; l < kLanes; ++l) {
        for (std::size_t w = 0; w < kChaChaBlockWords; ++w) {
            out[l * kChaChaBlockWords + w] = x[w][l];
        }
    }
}

}  // namespace

std::array<std::uint32_t, kChaChaBlockWords> chacha12_block(const ChaChaKey& key,
                                                            std::uint64_t counter,
                                                            std::uint64_t nonce) {
    const auto input = initial_state(key_words(key), counter, nonce);
    auto x = input;
    rounds(x);
    for (std::size_t w = 0; w < kChaChaBlockWords; ++w) x[w] += input[w];
    return x;
}

ChaCha12Stream::ChaCha12Stream(const ChaChaKey& key, KeySource rekey_source)
    : key_words_(key_words(key)), rekey_source_(rekey_source) {}

void ChaCha12Stream::refill() {
    if (counter_ >= kBlocksPerKey) {
        // A source that fails now is asked again at the next refill; meanwhile the old key
        // keeps going, its counter past kBlocksPerKey.
        if (Result<ChaChaKey> fresh = rekey_source_(); fresh.ok()) {
            key_words_ = key_words(fresh.value());
            counter_ = 0;
        }
    }
    chacha12_four_blocks(key_words_, counter_, buffer_.data());
    counter_ += kBlocksPerRefill;
    read_ = 0;
}

}  // namespace qubit
