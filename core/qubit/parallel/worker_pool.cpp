#include "qubit/parallel/worker_pool.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qubit {
namespace {

class WorkerPool {
public:
    // Starts workers until there are threads - 1 of them. Only between runs.
    void grow(unsigned threads) {
        const std::lock_guard<std::mutex> one_run(run_lock_);
        while (workers_.size() + 1 < threads) start_worker();
    }

    void run(unsigned threads, std::uint64_t count, TaskRef task) {
        const std::lock_guard<std::mutex> one_run(run_lock_);
        while (workers_.size() + 1 < threads) start_worker();
        const unsigned helpers = static_cast<unsigned>(
            std::min<std::uint64_t>({threads - 1u, workers_.size(), count - 1}));
        {
            const std::lock_guard<std::mutex> lock(lock_);
            task_ = &task;
            count_ = count;
            next_.store(0, std::memory_order_relaxed);
            error_ = nullptr;
            participants_ = helpers + 1;
            busy_ = helpers;
            ++generation_;
        }
        wake_.notify_all();
        work(0);
        std::unique_lock<std::mutex> lock(lock_);
        done_.wait(lock, [&] { return busy_ == 0; });
        task_ = nullptr;
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    }

private:
    void start_worker() {
        // Every signal blocked while the worker starts, so that it inherits the mask.
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous);
        const unsigned participant = static_cast<unsigned>(workers_.size()) + 1;
        // Runs before this one are not its to join; run_lock_ keeps generation_ still.
        const std::uint64_t seen = generation_;
        try {
            workers_.emplace_back([this, participant, seen] { serve(participant, seen); });
        } catch (...) {
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            throw;
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

    void serve(unsigned participant, std::uint64_t seen) {
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            wake_.wait(lock, [&] { return generation_ != seen; });
            seen = generation_;
            if (participant >= participants_) continue;  // this run needs fewer workers
            lock.unlock();
            work(participant);
            lock.lock();
            if (--busy_ == 0) done_.notify_one();
        }
    }

    void work(unsigned participant) {
        for (;;) {
            const std::uint64_t item = next_.fetch_add(1, std::memory_order_relaxed);
            if (item >= count_) return;
            try {
                (*task_)(item, participant);
            } catch (...) {
                next_.store(count_, std::memory_order_relaxed);  // hand out nothing more
                const std::lock_guard<std::mutex> lock(lock_);
                if (!error_) error_ = std::current_exception();
            }
        }
    }

    std::mutex run_lock_;  // held for a whole run, and while workers start
    std::mutex lock_;      // guards the run's fields below and the wake-ups
    std::condition_variable wake_, done_;
    std::vector<std::thread> workers_;
    std::uint64_t generation_ = 0;
    const TaskRef* task_ = nullptr;
    std::uint64_t count_ = 0;
    std::atomic<std::uint64_t> next_{0};
    unsigned participants_ = 0;
    unsigned busy_ = 0;
    std::exception_ptr error_;
};

// The process's pool and the process it was made in. It is never destroyed: workers may still
// be waiting on it when the process exits, and after fork() the child's copy belongs to
// threads that do not exist there.
std::mutex pool_lock;
WorkerPool* pool = nullptr;
pid_t pool_process = 0;

WorkerPool& the_pool() {
    const std::lock_guard<std::mutex> lock(pool_lock);
    const pid_t process = getpid();
    if (pool == nullptr || pool_process != process) {
        // In a child the parent's pool is left as it is, unused: its workers are gone.
        pool = std::make_unique<WorkerPool>().release();  // NOLINT: deliberately never freed
        pool_process = process;
    }
    return *pool;
}

}  // namespace

unsigned usable_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    const unsigned reported = std::thread::hardware_concurrency();
    return reported > 0 ? reported : 1;
}

void run_on_pool(unsigned threads, std::uint64_t count, TaskRef task) {
    the_pool().run(threads, count, task);
}

void prepare_pool(unsigned threads) {
    if (threads > 1) the_pool().grow(threads);
}

}  // namespace qubit
