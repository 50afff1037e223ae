// A measurement outcome: `value` over the measured qubits (bit m is the m-th measured
// qubit, lowest first) shown as a ket padded to `width` binary digits.
#pragma once

#include <cstdint>
#include <string>

namespace qubit {

struct DiracKet {
    std::uint64_t value;
    std::uint64_t width;

    // "|" + value in binary, left-padded with 0 to at least `width` digits (never
    // truncated; 0 is the digit 0) + ">". The rightmost digit is the lowest qubit.
    std::string text() const;
};

}  // namespace qubit
