#include "qubit/thread_rng.h"

#include "qubit/fatal_error.h"

namespace qubit {

std::uint64_t draw_u64() { throw FatalError("random source not built yet"); }

double draw_f64() { return static_cast<double>(draw_u64() >> 11) * 0x1.0p-53; }

}  // namespace qubit
