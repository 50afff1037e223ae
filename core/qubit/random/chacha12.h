// The ChaCha stream cipher with 12 rounds, used as a random generator: a 256-bit key, a 64-bit
// block counter in state words 12-13 (low word first) and a 64-bit nonce in words 14-15, which
// the generator keeps at zero. Every output word is the 32-bit value of its state word, i.e.
// the little-endian reading of the keystream bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "qubit/state/result.h"

namespace qubit {

using ChaChaKey = std::array<std::uint8_t, 32>;

inline constexpr std::size_t kChaChaBlockWords = 16;

// The plain block function: the 16 output words of block `counter` under `key` and `nonce`.
std::array<std::uint32_t, kChaChaBlockWords> chacha12_block(const ChaChaKey& key,
                                                            std::uint64_t counter,
                                                            std::uint64_t nonce = 0);

// Where a generator takes a fresh key from: the key, or the text of why there is none.
using KeySource = Result<ChaChaKey> (*)();

// A ChaCha12 keystream read as 32-bit words strictly in order, nonce 0. Once a key has served
// kBlocksPerKey blocks, the next refill first asks the key source for a new key and restarts
// the counter at 0; if the source fails, the old key and counter carry on and the next refill
// asks again. Trivially destructible, so a thread-local one costs no exit hook.
class ChaCha12Stream {
public:
    static constexpr std::uint64_t kBlocksPerKey = 1024;
    // Blocks computed per refill; the four run side by side. Divides kBlocksPerKey, so a
    // refill never straddles the re-key point.
    static constexpr std::size_t kBlocksPerRefill = 4;
    static_assert(kBlocksPerKey % kBlocksPerRefill == 0);

    ChaCha12Stream(const ChaChaKey& key, KeySource rekey_source);

    std::uint32_t next_u32() {
        if (read_ == kBufferWords) [[unlikely]] {
            refill();
        }
        return buffer_[read_++];
    }

    // The next two words, the earlier one as the low half (also across a refill).
    std::uint64_t next_u64() {
        if (read_ + 2 <= kBufferWords) [[likely]] {
            const std::uint64_t low = buffer_[read_];
            const std::uint64_t high = buffer_[read_ + 1];
            read_ += 2;
            return low | (high << 32);
        }
        const std::uint64_t low = next_u32();
        return low | (std::uint64_t{next_u32()} << 32);
    }

    // Blocks generated under the current key so far (buffered ones included).
    std::uint64_t block_counter() const { return counter_; }

private:
    static constexpr std::size_t kBufferWords = kBlocksPerRefill * kChaChaBlockWords;

    void refill();

    std::array<std::uint32_t, 8> key_words_;
    std::uint64_t counter_ = 0;
    KeySource rekey_source_;
    std::size_t read_ = kBufferWords;
    alignas(64) std::array<std::uint32_t, kBufferWords> buffer_;
};

}  // namespace qubit
