// The operating system's figure of available memory, read afresh for every register.
#pragma once

#include <cstdint>
#include <string_view>

namespace qubit {

// Available bytes according to the text of a /proc/meminfo file: MemAvailable when present,
// else MemFree + Buffers + Cached + SReclaimable - Shmem (sums saturate, the difference stops
// at 0). Values are KiB; a key seen twice keeps its last value; unparsable lines are skipped.
std::uint64_t available_memory_from(std::string_view meminfo_text);

// The same for the live file; a file that cannot be read counts as no keys at all, i.e. 0.
std::uint64_t available_memory();

}  // namespace qubit
