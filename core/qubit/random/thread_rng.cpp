#include "qubit/random/thread_rng.h"

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "qubit/random/chacha12.h"
#include "qubit/random/os_random.h"
#include "qubit/state/fatal_error.h"

namespace qubit {
namespace {

constexpr char kSeedFailure[] = "could not initialize ThreadRng: ";

// Constant-initialised and trivially destructible: a draw reaches it without a guard.
thread_local std::optional<ChaCha12Stream> t_stream;

Result<ChaChaKey> key_from_current_source() { return thread_key_source()(); }

// A forked child must not replay what its parent will draw: it starts with only the thread
// that called fork, and that thread's generator is dropped so that its next draw seeds anew.
// Other threads' generators never run in the child.
void forget_stream_in_child() { t_stream.reset(); }

void watch_for_fork() {
    static std::atomic<bool> registered{false};
    static std::mutex registering;
    if (registered.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(registering);
    if (registered.load(std::memory_order_relaxed)) return;
    if (const int code = ::pthread_atfork(nullptr, nullptr, &forget_stream_in_child)) {
        throw FatalError(kSeedFailure + std::system_category().message(code) + " (os error " +
                         std::to_string(code) + ")");
    }
    registered.store(true, std::memory_order_release);
}

[[gnu::noinline]] ChaCha12Stream& seed_stream() {
    watch_for_fork();
    Result<ChaChaKey> key = key_from_current_source();
    if (!key.ok()) throw FatalError(kSeedFailure + key.message());
    return t_stream.emplace(key.value(), &key_from_current_source);
}

}  // namespace

std::uint64_t draw_u64() {
    if (!t_stream) [[unlikely]] {
        return seed_stream().next_u64();
    }
    return t_stream->next_u64();
}

double draw_f64() { return unit_double_from(draw_u64()); }

}  // namespace qubit
