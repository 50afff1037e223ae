#include "qubit/register/register.h"

#include <cstdint>
#include <limits>
#include <string>

#include "qubit/parallel/worker_pool.h"
#include "qubit/state/fatal_error.h"
#include "qubit/state/meminfo.h"
#include "qubit/tiling/tiled_executor.h"

namespace qubit {

std::uint64_t register_bytes(std::uint64_t n, std::uint64_t available_bytes) {
    if (n >= kOverflowQubits) throw FatalError("capacity overflow");
    const std::uint64_t needed = std::uint64_t{16} << n;
    if (needed > available_bytes) {
        throw FatalError("You have " + std::to_string(available_bytes) +
                         " bytes of memory and Not enough memory to simulate " + std::to_string(n) +
                         " qubits! This which needs.. " + std::to_string(needed) +
                         " bytes of memory! This need " + std::to_string(needed - available_bytes) +
                         " more memory");
    }
    if (needed > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        throw FatalError("capacity overflow");
    }
    return needed;
}

QuantumRegister::QuantumRegister(std::uint64_t n) : QuantumRegister(n, available_memory()) {}

QuantumRegister::QuantumRegister(std::uint64_t n, std::uint64_t available_bytes, TileShape tiles,
                                 unsigned threads)
    : n_(n),
      state_(register_bytes(n, available_bytes) / sizeof(Complex)),
      dim_(std::uint64_t{1} << n),
      tiles_(tiles),
      threads_(threads == 0 ? 1 : threads),
      pending_(n > tiles.qubits ? PendingGates::with_list() : PendingGates()),
      workspace_(pending_.deferring() ? std::make_unique<TileWorkspace>(threads_) : nullptr) {
    prepare_pool(threads_);
    state_.data()[0] = {1.0, 0.0};
}

void QuantumRegister::defer(const GateRecord& gate) {
    if (pending_.full()) apply_pending();
    pending_.push(gate);
}

void QuantumRegister::apply_pending() const {
    if (pending_.empty()) return;
    run_gates({state_.data(), state_.size()}, static_cast<unsigned>(n_), pending_.gates(),
              active_kernels(), tiles_, *workspace_);
    pending_.clear();
}

}  // namespace qubit
