#include "qubit/tiling/tile_groups.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qubit {

TileGroup next_group(std::span<const GateRecord> gates, std::uint64_t within, unsigned qubits,
                     unsigned low_qubits) {
    // The set holds the lowest qubits anyway, so moved qubits there cost nothing; there is
    // room for qubits - low_qubits moved qubits above them. Greedy: the group ends at the
    // first gate that does not fit.
    std::uint64_t low = 0;
    std::uint64_t rest = within;
    for (unsigned i = 0; i < low_qubits && rest != 0; ++i, rest &= rest - 1) low |= rest & -rest;
    const int high_room = static_cast<int>(qubits - low_qubits);
    std::uint64_t moved = 0;
    std::size_t size = 0;
    for (; size < gates.size(); ++size) {
        const std::uint64_t with = moved | moved_qubits(gates[size]);
        if (std::popcount(with & ~low) > high_room) break;
        moved = with;
    }
    if (size == 0) {  // unreachable while there is room for two high qubits
        size = 1;
        moved = moved_qubits(gates[0]);
    }
    // Fill the set with the lowest qubits left.
    std::uint64_t tile = moved | low;
    for (rest = within & ~tile; rest != 0 && std::popcount(tile) < static_cast<int>(qubits);
         rest &= rest - 1) {
        tile |= rest & -rest;
    }
    return {size, tile};
}

}  // namespace qubit
