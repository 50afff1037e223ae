// MPICH and Open MPI headers both pull in C++ bindings unless told not to; the C API is all
// this uses.
#define MPICH_SKIP_MPICXX 1
#define OMPI_SKIP_MPICXX 1
#include "distributed/job.h"

#include <mpi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "qubit/state/fatal_error.h"

namespace distributed {
namespace {

MPI_Comm communicator = MPI_COMM_NULL;
bool joined_here = false;
int my_rank = 0;
int my_size = 1;

// MPI counts are ints: messages go in pieces of at most this many bytes.
constexpr std::size_t kMessagePiece = std::size_t{1} << 30;
// Exchanged amplitudes go in chunks of this many, so a trade never needs a buffer larger than
// 4 MiB, and the next chunk's transfer can start while the library copies the last.
constexpr std::uint64_t kChunk = std::uint64_t{1} << 18;

constexpr std::size_t kErrorBytes = 480;

void check(int status, const char* what) {
    if (status != MPI_SUCCESS) throw qubit::FatalError(std::string("MPI failed in ") + what);
}

}  // namespace

void Job::start() {
    if (communicator != MPI_COMM_NULL) return;
    int initialised = 0;
    check(MPI_Initialized(&initialised), "MPI_Initialized");
    if (!initialised) {
        // Worker threads never call MPI. The calls come from whichever Python thread calls the
        // register, but one at a time: each holds the interpreter lock from start to end.
        int provided = 0;
        check(MPI_Init_thread(nullptr, nullptr, MPI_THREAD_SERIALIZED, &provided),
              "MPI_Init_thread");
        joined_here = true;
    }
    check(MPI_Comm_dup(MPI_COMM_WORLD, &communicator), "MPI_Comm_dup");
    check(MPI_Comm_rank(communicator, &my_rank), "MPI_Comm_rank");
    check(MPI_Comm_size(communicator, &my_size), "MPI_Comm_size");
}

void Job::finish() {
    if (communicator == MPI_COMM_NULL) return;
    int finalised = 0;
    MPI_Finalized(&finalised);
    if (finalised) return;
    MPI_Comm_free(&communicator);
    communicator = MPI_COMM_NULL;
    if (joined_here) MPI_Finalize();
}

bool Job::running() {
    if (communicator == MPI_COMM_NULL) return false;
    int finalised = 0;
    MPI_Finalized(&finalised);
    return !finalised;
}

int Job::rank() { return my_rank; }
int Job::size() { return my_size; }

void Job::throw_first_error(const std::string& error) {
    char mine[kErrorBytes] = {};
    std::memcpy(mine, error.data(), std::min(error.size(), kErrorBytes - 1));
    std::vector<char> all(kErrorBytes * static_cast<std::size_t>(my_size));
    gather(mine, all.data(), kErrorBytes);
    for (int r = 0; r < my_size; ++r) {
        const char* text = all.data() + kErrorBytes * static_cast<std::size_t>(r);
        if (text[0] == '\0') continue;
        const std::string message(text, strnlen(text, kErrorBytes));
        throw qubit::FatalError(my_size > 1 ? "rank " + std::to_string(r) + ": " + message
                                            : message);
    }
}

void Job::broadcast(void* data, std::size_t bytes, int root) {
    auto* at = static_cast<char*>(data);
    for (std::size_t done = 0; done < bytes; done += kMessagePiece) {
        const int piece = static_cast<int>(std::min(kMessagePiece, bytes - done));
        check(MPI_Bcast(at + done, piece, MPI_BYTE, root, communicator), "MPI_Bcast");
    }
}

void Job::send(const void* data, std::size_t bytes, int to) {
    const auto* at = static_cast<const char*>(data);
    for (std::size_t done = 0; done < bytes; done += kMessagePiece) {
        const int piece = static_cast<int>(std::min(kMessagePiece, bytes - done));
        check(MPI_Send(at + done, piece, MPI_BYTE, to, 0, communicator), "MPI_Send");
    }
}

void Job::receive(void* data, std::size_t bytes, int from) {
    auto* at = static_cast<char*>(data);
    for (std::size_t done = 0; done < bytes; done += kMessagePiece) {
        const int piece = static_cast<int>(std::min(kMessagePiece, bytes - done));
        check(MPI_Recv(at + done, piece, MPI_BYTE, from, 0, communicator, MPI_STATUS_IGNORE),
              "MPI_Recv");
    }
}

void Job::exchange(qubit::Complex* data, std::uint64_t count, int partner) {
    for (std::uint64_t done = 0; done < count; done += kChunk) {
        const int piece = static_cast<int>(std::min(kChunk, count - done) * sizeof(qubit::Complex));
        check(MPI_Sendrecv_replace(data + done, piece, MPI_BYTE, partner, 1, partner, 1,
                                   communicator, MPI_STATUS_IGNORE),
              "MPI_Sendrecv_replace");
    }
}

void Job::gather_blocks(double* all, std::uint64_t block) {
    // A block may hold more doubles than an int counts: it travels as `block / unit` units of
    // `unit` doubles each (both powers of two).
    const std::uint64_t unit = std::min<std::uint64_t>(block, std::uint64_t{1} << 20);
    MPI_Datatype piece;
    check(MPI_Type_contiguous(static_cast<int>(unit), MPI_DOUBLE, &piece), "MPI_Type_contiguous");
    MPI_Type_commit(&piece);
    const int status = MPI_Allgather(MPI_IN_PLACE, 0, MPI_DATATYPE_NULL, all,
                                     static_cast<int>(block / unit), piece, communicator);
    MPI_Type_free(&piece);
    check(status, "MPI_Allgather");
}

void Job::gather(const void* mine, void* all, std::size_t bytes) {
    check(MPI_Allgather(mine, static_cast<int>(bytes), MPI_BYTE, all, static_cast<int>(bytes),
                        MPI_BYTE, communicator),
          "MPI_Allgather");
}

std::vector<std::vector<std::uint64_t>> Job::gather_lists(const std::vector<std::uint64_t>& mine) {
    const int length = static_cast<int>(mine.size());
    std::vector<int> lengths(static_cast<std::size_t>(my_size));
    gather(&length, lengths.data(), sizeof length);
    std::vector<int> starts(lengths.size());
    int total = 0;
    for (std::size_t r = 0; r < lengths.size(); ++r) {
        starts[r] = total;
        total += lengths[r];
    }
    std::vector<std::uint64_t> all(static_cast<std::size_t>(total));
    check(MPI_Allgatherv(mine.data(), length, MPI_UINT64_T, all.data(), lengths.data(),
                         starts.data(), MPI_UINT64_T, communicator),
          "MPI_Allgatherv");
    std::vector<std::vector<std::uint64_t>> lists;
    for (std::size_t r = 0; r < lengths.size(); ++r) {
        lists.emplace_back(all.begin() + starts[r], all.begin() + starts[r] + lengths[r]);
    }
    return lists;
}

}  // namespace distributed
