#include "qubit/state/amplitudes.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "qubit/state/fatal_error.h"

namespace qubit {
namespace {

constexpr std::size_t kAlignment = 64;          // one cache line, one AVX-512 register
constexpr std::size_t kMapThreshold = 1 << 20;  // below this, the heap is cheaper than mmap

constexpr std::size_t kPage = 4096;

// Small pages, even where the system would hand out huge ones: huge pages speed up a lone
// pass over the state but slow down the tiled circuits, which are what matter
// (docs/performance.md has the figures).
void* map_small_pages(std::size_t bytes) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    madvise(pages, bytes, MADV_NOHUGEPAGE);  // only advice: it cannot fail a valid mapping
    return pages;
}

// The pages are committed now: pages first touched by a later gate would leave the system's
// figure of available memory unmoved, and the memory guard of the next register would accept
// memory that is already promised. Committing can fail here, cleanly, where a first touch
// later would have met the out-of-memory killer. Kernels before Linux 5.14 lack
// MADV_POPULATE_WRITE; there a write to every page commits it.
void* map_committed(std::size_t bytes) {
    void* pages = map_small_pages(bytes);
    if (pages == nullptr) return nullptr;
    if (madvise(pages, bytes, MADV_POPULATE_WRITE) == 0) return pages;
    if (errno != EINVAL) {
        munmap(pages, bytes);
        return nullptr;
    }
    volatile char* const first = static_cast<char*>(pages);
    for (std::size_t offset = 0; offset < bytes; offset += kPage) first[offset] = 0;
    return pages;
}

}  // namespace

Amplitudes::Amplitudes(std::uint64_t count) : count_(count) {
    const std::uint64_t bytes = count * sizeof(Complex);  // callers have bounded count
    if (bytes >= kMapThreshold) {
        // Anonymous pages arrive zeroed, so a large register needs no fill pass of its own.
        void* pages = map_committed(bytes);
        if (pages == nullptr) throw allocation_failure(bytes);
        data_ = static_cast<Complex*>(pages);
        mapped_ = true;
        return;
    }
    const std::size_t rounded = (bytes + kAlignment - 1) / kAlignment * kAlignment;
    void* block = std::aligned_alloc(kAlignment, rounded);
    if (block == nullptr) throw allocation_failure(bytes);
    std::memset(block, 0, rounded);
    data_ = static_cast<Complex*>(block);
}

Amplitudes::~Amplitudes() { release(); }

Amplitudes::Amplitudes(Amplitudes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      count_(std::exchange(other.count_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

Amplitudes& Amplitudes::operator=(Amplitudes&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        count_ = std::exchange(other.count_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void Amplitudes::release() noexcept {
    if (data_ == nullptr) return;
    if (mapped_) {
        munmap(data_, count_ * sizeof(Complex));
    } else {
        std::free(data_);
    }
    data_ = nullptr;
}

}  // namespace qubit
