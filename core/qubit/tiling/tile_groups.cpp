#include "qubit/tiling/tile_groups.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qubit {

TileGroup next_group(std::span<const GateRecord> gates, unsigned n, TileShape shape) {
    // S holds the qubits below low_qubits anyway, so moved qubits there cost nothing; there
    // is room for qubits - low_qubits moved qubits above them. Greedy: the group ends at the
    // first gate that does not fit.
    const std::uint64_t low = (std::uint64_t{1} << shape.low_qubits) - 1;
    const int high_room = static_cast<int>(shape.qubits - shape.low_qubits);
    std::uint64_t moved = 0;
    std::size_t size = 0;
    for (; size < gates.size(); ++size) {
        const std::uint64_t with = moved | moved_qubits(gates[size]);
        if (std::popcount(with & ~low) > high_room) break;
        moved = with;
    }
    if (size == 0) {  // unreachable while the shape has room for two high qubits
        size = 1;
        moved = moved_qubits(gates[0]);
    }
    // Fill S with the lowest qubits left.
    std::uint64_t tile = moved;
    for (unsigned q = 0; q < n && std::popcount(tile) < static_cast<int>(shape.qubits); ++q) {
        tile |= std::uint64_t{1} << q;
    }
    return {size, tile};
}

}  // namespace qubit
