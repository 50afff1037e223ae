#include "qubit/register/amplitudes.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "qubit/register/fatal_error.h"

namespace qubit {
namespace {

constexpr std::size_t kAlignment = 64;          // one cache line, one AVX-512 register
constexpr std::size_t kMapThreshold = 1 << 20;  // below this, the heap is cheaper than mmap

}  // namespace

Amplitudes::Amplitudes(std::uint64_t count) : count_(count) {
    const std::uint64_t bytes = count * sizeof(Complex);  // callers have bounded count
    if (bytes >= kMapThreshold) {
        // Anonymous pages arrive zeroed, so a large register needs no fill pass of its own.
        // They are committed now all the same (MAP_POPULATE): pages first touched by a later
        // gate would leave the system's figure of available memory unmoved, and the memory
        // guard of the next register would accept memory that is already promised.
        void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (pages == MAP_FAILED) throw allocation_failure(bytes);
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
