// The working memory of one thread that runs tiles: the layout of a chunk of gates for a
// tile's parts, a chunk renumbered for a gathered tile, and the gathered tile itself. It is
// made once, with the register whose tiles it serves, so that applying gates allocates
// nothing, keeps nothing large on the stack (a Python thread's may be 32 KiB), and shares
// nothing between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "qubit/gates/gate_record.h"
#include "qubit/state/complex.h"

namespace qubit {

// The largest tile that is gathered: 2^16 amplitudes, 1 MiB. A larger tile (only a forced
// tile size makes one) stays where it is.
inline constexpr unsigned kGatheredQubits = 16;

struct TileScratch {
    // Gates laid out at once for a tile's parts, and the room for their starts.
    static constexpr std::size_t kChunk = 32;
    static constexpr std::size_t kRoom = 1024;
    PlacedGate placed[kChunk];
    bool laid_out[kChunk];
    std::uint64_t room[kRoom];

    // Gates renumbered at once for a gathered tile.
    static constexpr std::size_t kGatheredChunk = 128;
    GateRecord renumbered[kGatheredChunk];

    alignas(64) Complex gathered[std::size_t{1} << kGatheredQubits];
};

// Left uninitialised: every field is written before it is read.
inline std::unique_ptr<TileScratch> make_tile_scratch() {
    return std::make_unique_for_overwrite<TileScratch>();
}

// A TileScratch for each thread that a register's tiles may run on, the calling thread's
// first: made with the register, so that every participant of a run has its own.
class TileWorkspace {
public:
    explicit TileWorkspace(unsigned threads) {
        for (unsigned i = 0; i < (threads == 0 ? 1 : threads); ++i) {
            scratch_.push_back(make_tile_scratch());
        }
    }
    unsigned threads() const { return static_cast<unsigned>(scratch_.size()); }
    TileScratch& of(unsigned participant) const { return *scratch_[participant]; }

private:
    std::vector<std::unique_ptr<TileScratch>> scratch_;
};

}  // namespace qubit
