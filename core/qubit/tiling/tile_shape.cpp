#include "qubit/tiling/tile_shape.h"

#include <unistd.h>

#include <bit>
#include <cstdint>

namespace qubit {
namespace {

constexpr std::uint64_t kDefaultCacheBytes = std::uint64_t{256} << 10;
constexpr std::uint64_t kDefaultL1Bytes = std::uint64_t{32} << 10;
constexpr std::uint64_t kAmplitudeBytes = 16;
// Runs shorter than this leave the memory's prefetchers too little to follow.
constexpr unsigned kLowQubits = 10;
// A sub-tile has room for this many moved qubits above its lowest ones (docs/performance.md
// has the measurements that chose it).
constexpr unsigned kSubTileRoom = 3;

std::uint64_t cache_bytes(int name, std::uint64_t otherwise) {
    const long reported = sysconf(name);
    return reported > 0 ? static_cast<std::uint64_t>(reported) : otherwise;
}

// The largest q with 2^q amplitudes in `bytes`.
unsigned qubits_in(std::uint64_t bytes) {
    const std::uint64_t amplitudes = bytes / kAmplitudeBytes;
    return amplitudes == 0 ? 0 : static_cast<unsigned>(std::bit_width(amplitudes) - 1);
}

}  // namespace

// Half the per-core cache: the gates' arithmetic in cache sets the pace, not the passes over
// memory, so tiles sized for the shared cache gain nothing (docs/performance.md).
TileShape tile_shape_for(std::uint64_t cache_bytes, std::uint64_t l1_bytes) {
    const unsigned cached = qubits_in(cache_bytes / 2);
    // Room for a run of at least 2^kLowQubits and two more qubits: any one gate fits.
    const unsigned qubits = cached < kLowQubits + 2 ? kLowQubits + 2 : cached;
    const unsigned sub_qubits = qubits_in(l1_bytes / 4 * 3);
    if (sub_qubits >= qubits || sub_qubits <= kSubTileRoom) {
        return {qubits, kLowQubits, 0, 0};
    }
    return {qubits, kLowQubits, sub_qubits, sub_qubits - kSubTileRoom};
}

TileChoice machine_tile_choice() {
    static const TileShape shape =
        tile_shape_for(cache_bytes(_SC_LEVEL2_CACHE_SIZE, kDefaultCacheBytes),
                       cache_bytes(_SC_LEVEL1_DCACHE_SIZE, kDefaultL1Bytes));
    // For tuning and for timing single gates: ZELVANIC_TILE_QUBITS=q makes tiles of 2^q
    // amplitudes, and q >= n makes a register of n qubits apply each gate at once.
    const unsigned least = shape.low_qubits + 2;
    TileChoice choice{shape, read_count_setting("ZELVANIC_TILE_QUBITS", least, UINT64_MAX), least};
    if (choice.setting.kind == CountSetting::Kind::count) {
        // sub-tiles no smaller than these tiles go unused
        choice.shape.qubits =
            choice.setting.count > 64 ? 64u : static_cast<unsigned>(choice.setting.count);
    }
    return choice;
}

TileShape machine_tile_shape() { return machine_tile_choice().shape; }

}  // namespace qubit
