#include "distributed/distributed_register.h"

#include <array>
#include <bit>
#include <new>
#include <utility>

#include "distributed/call_ledger.h"
#include "distributed/call_text.h"
#include "distributed/job.h"
#include "qubit/gates/bits.h"
#include "qubit/state/fatal_error.h"
#include "qubit/state/qubit_limits.h"

namespace distributed {
namespace {

using qubit::bit;
using qubit::GateKind;
using qubit::GateRecord;

// A gate moves at most two qubits (a swap's), and each global one needs a local partner the
// gate does not move: a register spreads over 2^p processes from p + 2 qubits on.
constexpr unsigned kLeastLocalQubits = 2;

std::uint64_t registers_made = 0;

struct Trade {
    unsigned global;
    unsigned local;
};

// `gate` with the qubits of each trade exchanged: the same gate on the state after the trades.
GateRecord relabelled(const GateRecord& gate, std::span<const Trade> trades) {
    const auto label = [&](unsigned q) {
        for (const Trade& t : trades) {
            if (q == t.global) return t.local;
            if (q == t.local) return t.global;
        }
        return q;
    };
    GateRecord moved = gate;
    moved.controls = 0;
    for (std::uint64_t c = gate.controls; c != 0; c &= c - 1) {
        moved.controls |= bit(label(static_cast<unsigned>(std::countr_zero(c))));
    }
    const unsigned target = label(gate.target);
    if (gate.kind != GateKind::kSwap) {
        moved.target = static_cast<std::uint8_t>(target);
        return moved;
    }
    const unsigned partner = label(gate.partner);
    moved.target = static_cast<std::uint8_t>(std::min(target, partner));
    moved.partner = static_cast<std::uint8_t>(std::max(target, partner));
    return moved;
}

}  // namespace

DistributedRegister::DistributedRegister(std::uint64_t n, std::uint64_t available_bytes,
                                         qubit::TileShape tiles, unsigned threads)
    : n_(n), number_(++registers_made) {
    record("QuantumRegister", n);
    const int size = Job::size();
    if (!std::has_single_bit(static_cast<unsigned>(size))) {
        throw qubit::FatalError(
            "zelvanic_mpi runs on a power-of-two number of processes (1, 2, 4, 8, ...), not on " +
            std::to_string(size) + ": start the job with mpiexec -n 2, -n 4, ...");
    }
    if (n >= qubit::kOverflowQubits) throw qubit::FatalError("capacity overflow");
    const unsigned p = static_cast<unsigned>(std::countr_zero(static_cast<unsigned>(size)));
    if (n >= p + kLeastLocalQubits) {
        global_ = p;
        block_ = static_cast<std::uint64_t>(Job::rank());
    }
    CallLedger::synchronise();
    Job::agree([&] {
        local_ =
            std::make_unique<qubit::QuantumRegister>(n - global_, available_bytes, tiles, threads);
        if (block_ != 0) local_->state()[0] = {0.0, 0.0};
    });
}

std::uint64_t DistributedRegister::global_mask() const noexcept {
    return global_ == 0 ? 0 : ((std::uint64_t{1} << global_) - 1) << local_qubits();
}

bool DistributedRegister::restrict_here(const GateRecord& gate, GateRecord& local) const {
    const std::uint64_t fixed = global_mask();
    if (!qubit::restrict_gate(gate, fixed, first_index(), local)) return false;
    // A diagonal on a global qubit multiplies the whole block by one entry, which restrict_gate
    // put on both ends of the diagonal: on any local qubit it makes that same product.
    if ((fixed & bit(local.target)) != 0)
        local.target = static_cast<std::uint8_t>(local_qubits() - 1);
    return true;
}

void DistributedRegister::apply(const GateRecord& gate) {
    const std::uint64_t fixed = global_mask();
    const std::uint64_t values = first_index();
    GateRecord local;
    const std::uint64_t moved = qubit::moved_qubits(gate);
    if ((moved & fixed) == 0) {
        if (restrict_here(gate, local)) local_->apply(local);
        return;
    }
    CallLedger::synchronise();
    // A control held at 0 here is held at 0 by every partner too (a control is never a moved
    // qubit, and partners differ only in moved ones): the whole group sits this gate out.
    if ((gate.controls & fixed & ~values) != 0) return;
    // Each moved global qubit trades places with the highest local qubit the gate leaves
    // alone: the halves that travel are then the longest runs of the block.
    std::array<Trade, 2> trades{};
    std::size_t count = 0;
    std::uint64_t taken = moved;
    for (std::uint64_t g = moved & fixed; g != 0; g &= g - 1) {
        unsigned l = local_qubits() - 1;
        while ((taken & bit(l)) != 0) --l;
        taken |= bit(l);
        trades[count++] = {static_cast<unsigned>(std::countr_zero(g)), l};
    }
    const std::span<const Trade> made(trades.data(), count);
    for (const Trade& t : made) trade(t.global, t.local);
    if (restrict_here(relabelled(gate, made), local)) local_->apply(local);
    for (std::size_t i = count; i-- > 0;) trade(trades[i].global, trades[i].local);
}

void DistributedRegister::trade(unsigned global, unsigned local) {
    // After SWAP(global, local) the amplitude at (global = b, local = 1 - b) is the one that
    // was at (global = 1 - b, local = b): the partner's, at the same other bits. So each side
    // sends the half of its block where the local qubit differs from its own global bit, and
    // receives the partner's matching half in its place.
    const std::span<Complex> state = local_->state();
    const unsigned j = global - local_qubits();
    const int partner = Job::rank() ^ (1 << j);
    const std::uint64_t half = std::uint64_t{1} << local;
    const std::uint64_t offset = rank_bit(global) ? 0 : half;
    for (std::uint64_t base = 0; base < state.size(); base += 2 * half) {
        Job::exchange(state.data() + base + offset, half, partner);
    }
}

GateResult DistributedRegister::H(std::uint64_t target) {
    return gate(qubit::hadamard_request(n_, target), "h", target);
}

GateResult DistributedRegister::X(std::uint64_t target) {
    return gate(qubit::x_request(n_, target), "x", target);
}

GateResult DistributedRegister::U(std::uint64_t target, Complex u00, Complex u01, Complex u10,
                                  Complex u11) {
    return gate(qubit::u_request(n_, target, u00, u01, u10, u11), "u", target, u00, u01, u10, u11);
}

GateResult DistributedRegister::Rx(std::uint64_t target, double theta) {
    return gate(qubit::rx_request(n_, target, theta), "rx", target, theta);
}

GateResult DistributedRegister::Ry(std::uint64_t target, double theta) {
    return gate(qubit::ry_request(n_, target, theta), "ry", target, theta);
}

GateResult DistributedRegister::Rz(std::uint64_t target, double theta) {
    return gate(qubit::rz_request(n_, target, theta), "rz", target, theta);
}

GateResult DistributedRegister::CNOT(std::uint64_t control, std::uint64_t target) {
    return gate(qubit::cnot_request(n_, control, target), "cnot", control, target);
}

GateResult DistributedRegister::SWAP(std::uint64_t q1, std::uint64_t q2) {
    return gate(qubit::swap_request(n_, q1, q2), "swap", q1, q2);
}

GateResult DistributedRegister::CCNOT(std::uint64_t control1, std::uint64_t control2,
                                      std::uint64_t target) {
    return gate(qubit::ccnot_request(n_, control1, control2, target), "ccnot", control1, control2,
                target);
}

GateResult DistributedRegister::CSSWAP(std::uint64_t control, std::uint64_t target_1,
                                       std::uint64_t target_2) {
    return gate(qubit::csswap_request(n_, control, target_1, target_2), "csswap", control, target_1,
                target_2);
}

GateResult DistributedRegister::MCU(Qubits control, std::uint64_t target, Complex u00, Complex u01,
                                    Complex u10, Complex u11) {
    return gate(qubit::mcu_request(n_, control, target, u00, u01, u10, u11), "mcu", control, target,
                u00, u01, u10, u11);
}

}  // namespace distributed
