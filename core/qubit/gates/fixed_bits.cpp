#include "qubit/gates/fixed_bits.h"

#include <cstdint>
#include <string>

#include "qubit/state/fatal_error.h"

namespace qubit {

void require_index_below(std::uint64_t index, std::uint64_t size) {
    if (index >= size) {
        throw FatalError("index " + std::to_string(index) + " out of bounds for " +
                         std::to_string(size) + " amplitudes");
    }
}

}  // namespace qubit
