#include "qubit/tiling/gathered_tile.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "qubit/gates/bits.h"
#include "qubit/gates/fixed_bits.h"
#include "qubit/kernels/kernels.h"

namespace qubit {
namespace {

// Calls visit(index, offset, length) for each run of the tile of an n-qubit state whose
// qubits outside `tile` hold `values`: the run's first index in the state and its place in
// the buffer, in index order. Its lowest qubits up to the first one missing make each run.
template <class Visit>
void for_each_run(unsigned n, std::uint64_t tile, std::uint64_t values, Visit&& visit) {
    FixedBits outside;
    outside.add_each(((std::uint64_t{1} << n) - 1) & ~tile, values);
    if (outside.count() == 0)
        return visit(std::uint64_t{0}, std::uint64_t{0}, std::uint64_t{1} << n);
    const std::uint64_t length = std::uint64_t{1} << outside.lowest();
    std::uint64_t offset = 0;
    outside.for_each_run(n, [&](std::uint64_t start) {
        visit(start, offset, length);
        offset += length;
    });
}

// The place of qubit q among the qubits of `tile` (q among them).
unsigned rank(std::uint64_t tile, unsigned q) {
    return static_cast<unsigned>(std::popcount(tile & ((std::uint64_t{1} << q) - 1)));
}

std::uint64_t renumbered(std::uint64_t qubits, std::uint64_t tile) {
    std::uint64_t local = 0;
    for (; qubits != 0; qubits &= qubits - 1) {
        local |= std::uint64_t{1} << rank(tile, static_cast<unsigned>(std::countr_zero(qubits)));
    }
    return local;
}

}  // namespace

bool gathers(std::uint64_t tile) {
    return std::bit_floor(tile) >= staged_partner_half() &&
           std::popcount(tile) <= static_cast<int>(kGatheredQubits);
}

void gather_tile(std::span<const Complex> state, unsigned n, std::uint64_t tile,
                 std::uint64_t values, std::span<Complex> buffer) {
    for_each_run(n, tile, values,
                 [&](std::uint64_t index, std::uint64_t offset, std::uint64_t length) {
                     std::memcpy(&buffer[offset], &state[index], length * sizeof(Complex));
                 });
}

void scatter_tile(std::span<const Complex> buffer, unsigned n, std::uint64_t tile,
                  std::uint64_t values, std::span<Complex> state) {
    for_each_run(n, tile, values,
                 [&](std::uint64_t index, std::uint64_t offset, std::uint64_t length) {
                     std::memcpy(&state[index], &buffer[offset], length * sizeof(Complex));
                 });
}

bool gate_in_tile(const GateRecord& gate, std::uint64_t tile, std::uint64_t values,
                  GateRecord& local) {
    if (!restrict_gate(gate, ~tile, values, local)) return false;
    local.controls = renumbered(local.controls, tile);
    if (gate.kind == GateKind::kDiagonal && (tile & bit(gate.target)) == 0) {
        local.target = static_cast<std::uint8_t>(std::popcount(tile) - 1);
        return true;
    }
    local.target = static_cast<std::uint8_t>(rank(tile, gate.target));
    if (gate.kind == GateKind::kSwap) {
        local.partner = static_cast<std::uint8_t>(rank(tile, gate.partner));
    }
    return true;
}

}  // namespace qubit
