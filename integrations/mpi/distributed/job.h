// The MPI job the process belongs to, and the few kinds of message a spread register sends.
// Every function here is called by every process of the job at the same point of the same
// call (the call ledger sees to that), except `exchange`, which the two partners call
// together. They are called with the interpreter lock held, so never by two threads at once,
// and never by the core's worker threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "qubit/state/complex.h"
#include "qubit/state/fatal_error.h"

namespace distributed {

class Job {
public:
    // Joins MPI (MPI_Init_thread, unless something else, mpi4py say, already has) and takes a
    // communicator of its own, so that a user's messages never mix with the register's.
    // Idempotent.
    static void start();
    // Leaves MPI when start() joined it and nobody has left yet.
    static void finish();
    static bool running();

    static int rank();
    static int size();

    // Runs `step` in this process and returns what it threw, as text: a FatalError's, or
    // "memory allocation failed"; an empty string when it did not throw.
    template <class Step>
    static std::string attempt(Step&& step) {
        try {
            step();
        } catch (const qubit::FatalError& e) {
            return e.what();
        } catch (const std::bad_alloc&) {
            return "memory allocation failed";
        }
        return {};
    }
    // Every process hands in its `error` (empty: none), and when any is not empty, every
    // process throws the same FatalError: the first in rank order, "rank R: " before it when
    // the processes are many.
    static void throw_first_error(const std::string& error);
    // A step that may fail in some processes only: it fails in all of them alike, so that none
    // is left waiting for a message from one that gave up.
    template <class Step>
    static void agree(Step&& step) {
        throw_first_error(attempt(step));
    }

    // `bytes` from `root` to everyone.
    static void broadcast(void* data, std::size_t bytes, int root);
    // Hands `bytes` along the ranks: rank r receives them from r - 1 (unless first), runs
    // `continue_here`, and sends them on to r + 1; then the last rank's bytes go to everyone.
    // A step that throws still passes the bytes on, and then every process throws the first
    // error.
    template <class Step>
    static void pass_along(void* data, std::size_t bytes, Step&& continue_here) {
        if (rank() > 0) receive(data, bytes, rank() - 1);
        const std::string error = attempt(continue_here);
        if (rank() + 1 < size()) send(data, bytes, rank() + 1);
        broadcast(data, bytes, size() - 1);
        throw_first_error(error);
    }
    // Trades `count` amplitudes with `partner`, who trades the same count: each side's are
    // replaced by the other's, in chunks so no buffer is larger than a chunk.
    static void exchange(qubit::Complex* data, std::uint64_t count, int partner);
    // `all` holds size() blocks of `block` doubles; every rank's own block (rank r's at
    // r * block) goes to every other.
    static void gather_blocks(double* all, std::uint64_t block);
    // Every process's `bytes` of `mine`, in rank order, into `all` (size() * bytes).
    static void gather(const void* mine, void* all, std::size_t bytes);
    // Every process's list, whatever its length (below 2^31), in rank order.
    static std::vector<std::vector<std::uint64_t>> gather_lists(
        const std::vector<std::uint64_t>& mine);

private:
    static void send(const void* data, std::size_t bytes, int to);
    static void receive(void* data, std::size_t bytes, int from);
};

}  // namespace distributed
