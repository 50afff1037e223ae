#include "qubit/tiling/tile_shape.h"

#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdlib>

namespace qubit {
namespace {

constexpr std::uint64_t kDefaultCacheBytes = std::uint64_t{256} << 10;
constexpr std::uint64_t kAmplitudeBytes = 16;
// Runs shorter than this leave the memory's prefetchers too little to follow.
constexpr unsigned kLowQubits = 10;

std::uint64_t l2_cache_bytes() {
    const long reported = sysconf(_SC_LEVEL2_CACHE_SIZE);
    return reported > 0 ? static_cast<std::uint64_t>(reported) : kDefaultCacheBytes;
}

}  // namespace

TileShape tile_shape_for(std::uint64_t cache_bytes) {
    const std::uint64_t amplitudes = cache_bytes / 2 / kAmplitudeBytes;
    unsigned qubits = amplitudes == 0 ? 0 : static_cast<unsigned>(std::bit_width(amplitudes) - 1);
    // Room for a run of at least 2^kLowQubits and two more qubits: any one gate fits.
    if (qubits < kLowQubits + 2) qubits = kLowQubits + 2;
    return {qubits, kLowQubits};
}

TileShape machine_tile_shape() {
    static const TileShape shape = tile_shape_for(l2_cache_bytes());
    // For tuning and for timing single gates: ZELVANIC_TILE_QUBITS=q makes tiles of 2^q
    // amplitudes, and q >= n makes a register of n qubits apply each gate at once.
    const char* forced = std::getenv("ZELVANIC_TILE_QUBITS");
    if (forced == nullptr || *forced == '\0') return shape;
    char* end = nullptr;
    const unsigned long qubits = std::strtoul(forced, &end, 10);
    if (*end != '\0' || qubits < shape.low_qubits + 2) return shape;
    return {qubits > 64 ? 64u : static_cast<unsigned>(qubits), shape.low_qubits};
}

}  // namespace qubit
