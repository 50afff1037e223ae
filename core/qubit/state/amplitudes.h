// The register's amplitude array: one zero-filled allocation of exactly `count` amplitudes,
// aligned for the widest vector unit, made once and never resized or copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "qubit/state/complex.h"

namespace qubit {

class Amplitudes {
public:
    // Throws FatalError naming the byte count when the memory cannot be had.
    explicit Amplitudes(std::uint64_t count);
    ~Amplitudes();

    Amplitudes(Amplitudes&& other) noexcept;
    Amplitudes& operator=(Amplitudes&& other) noexcept;
    Amplitudes(const Amplitudes&) = delete;
    Amplitudes& operator=(const Amplitudes&) = delete;

    Complex* data() noexcept { return data_; }
    const Complex* data() const noexcept { return data_; }
    std::uint64_t size() const noexcept { return count_; }

private:
    void release() noexcept;

    Complex* data_ = nullptr;
    std::uint64_t count_ = 0;
    bool mapped_ = false;  // large arrays come straight from mmap, already zero
};

}  // namespace qubit
