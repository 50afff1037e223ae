// The threads that share a register's work when the user asks for them (ZELVANIC_THREADS).
// None exists before a register asks: the process's one pool is made then, grown when a later
// register asks for more, and never torn down, so no worker can be left waiting on something
// that finalisation destroyed. Workers run core arithmetic only, never Python, and block every
// signal, so Ctrl-C still reaches the interpreter's main thread. A child after fork() makes a
// pool of its own on first use: the parent's workers did not survive the fork.
//
// Items are handed out one at a time, in increasing order, to whichever participant comes
// free, so a worker slowed by another process on its core holds up only the item it has. An
// idle worker sleeps on a condition variable; nothing spins.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace qubit {

// A reference to a callable task(item, participant), cheap to pass, never owning it.
class TaskRef {
public:
    template <class Task>
    requires(!std::is_same_v<std::remove_cvref_t<Task>, TaskRef>) TaskRef(
        Task& task)  // NOLINT(google-explicit-constructor): a reference, like std::function_ref
        : object_(&task), call_([](void* object, std::uint64_t item, unsigned participant) {
              (*static_cast<Task*>(object))(item, participant);
          }) {}
    void operator()(std::uint64_t item, unsigned participant) const {
        call_(object_, item, participant);
    }

private:
    void* object_;
    void (*call_)(void*, std::uint64_t, unsigned);
};

// The number of processors this process may run on (its affinity mask, so that containers
// and taskset are respected); at least 1.
unsigned usable_processors();

// Runs task(item, participant) for every item of [0, count) on the calling thread
// (participant 0) and up to threads - 1 of the pool's workers (participants 1, 2, ...),
// each participant running one item at a time; returns when every item is done. One run at
// a time: a second caller waits for the first. An exception thrown by a task stops the
// handing out of items and is rethrown here once every participant has stopped.
void run_on_pool(unsigned threads, std::uint64_t count, TaskRef task);

// task(item, participant) for every item of [0, count): on the pool when `threads` > 1 and
// there is more than one item, else on the calling thread in increasing order as
// participant 0.
template <class Task>
void parallel_for(unsigned threads, std::uint64_t count, Task&& task) {
    if (threads <= 1 || count <= 1) {
        for (std::uint64_t item = 0; item < count; ++item) task(item, 0u);
        return;
    }
    run_on_pool(threads, count, task);
}

// Makes the pool with room for `threads` participants now, if it is not there yet: the
// register that asks for threads pays for starting them, not its first gate.
void prepare_pool(unsigned threads);

}  // namespace qubit
