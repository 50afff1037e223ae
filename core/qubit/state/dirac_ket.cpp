#include "qubit/state/dirac_ket.h"

#include <bit>

namespace qubit {

std::string DiracKet::text() const {
    const std::uint64_t digits = value == 0 ? 1 : std::bit_width(value);
    const std::uint64_t shown = digits > width ? digits : width;
    std::string out;
    out.reserve(shown + 2);
    out += '|';
    out.append(shown - digits, '0');
    for (std::uint64_t d = digits; d-- > 0;) out += ((value >> d) & 1) ? '1' : '0';
    out += '>';
    return out;
}

}  // namespace qubit
