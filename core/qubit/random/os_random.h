// Keys from the operating system's random source, the only entropy the core uses: the getrandom
// call, or, where that call is missing or refused (ENOSYS, EPERM), /dev/urandom once
// /dev/random has become readable, i.e. once the kernel's pool has been initialised.
#pragma once

#include <cstddef>

#include "qubit/random/chacha12.h"
#include "qubit/state/result.h"

namespace qubit {

// The system calls a key is read with; tests swap in failing ones.
struct OsRandomBackend {
    // getrandom(2) semantics: bytes written, or -1 with errno set.
    long (*getrandom)(void* buffer, std::size_t length, unsigned flags);
    const char* ready_device;  // polled until readable before the fallback reads
    const char* bytes_device;  // the fallback's bytes
};

const OsRandomBackend& system_random_backend();

// 32 fresh bytes, or why there are none: the system's description of an errno followed by
// " (os error N)"; "errno: did not return a positive value" when a call failed without a
// positive errno; "unexpected situation" when a call returned a count that is neither -1 nor
// within the request.
Result<ChaChaKey> os_random_key(const OsRandomBackend& backend = system_random_backend());

// The source every thread's generator is seeded and re-keyed from: os_random_key() with the
// system backend, unless a test replaced it. Safe to call from any thread.
KeySource thread_key_source();

// Test seam: makes `source` the process-wide key source and returns the one it replaces.
KeySource replace_thread_key_source(KeySource source);

}  // namespace qubit
