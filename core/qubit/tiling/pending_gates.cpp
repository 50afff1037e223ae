#include "qubit/tiling/pending_gates.h"

#include <memory>

namespace qubit {

PendingGates PendingGates::with_list() {
    PendingGates pending;
    pending.records_ = std::make_unique_for_overwrite<GateRecord[]>(kCapacity);
    return pending;
}

}  // namespace qubit
