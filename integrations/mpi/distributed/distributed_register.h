// A register of n qubits spread over the 2^p processes of an MPI job, with the methods,
// arguments, results and messages of the one-process register (qubit::QuantumRegister).
// Every process makes the same calls in the same order (SPMD).
//
// The top p qubits are global: qubit n - p + j is bit j of the rank, and rank r holds the
// 2^(n-p) amplitudes whose global qubits spell r, as a one-process register of its own (tiles,
// threads and all) over the n - p local qubits. Rank order is basis-index order.
//
// - A gate that moves only local qubits runs in each process as it does in one; a control on
//   a global qubit is settled by the rank (restrict_gate), with no message.
// - A gate that moves a global qubit first trades it for a local one the gate does not move:
//   partners across that qubit swap the halves of their blocks that differ, and the gate
//   runs locally on the local qubit; the trade is then undone. Only whole amplitudes travel,
//   so every amplitude meets the same operations on the same operands as in one process.
// - A measurement's sums run over the blocks in rank order, carried from rank to rank, so
//   they are the one process's sums to the last bit; rank 0 draws the one random number and
//   every rank collapses its own block onto the same outcome.
//
// A register with fewer than p + 2 qubits is too small to spread (a gate moves up to two
// qubits, each needing a local partner): every process then holds all of it and does the
// same work, and only the draw comes from rank 0.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "distributed/call_ledger.h"
#include "distributed/call_text.h"
#include "qubit/gates/gate_requests.h"
#include "qubit/register/register.h"
#include "qubit/state/dirac_ket.h"
#include "qubit/state/result.h"
#include "qubit/tiling/tile_shape.h"

namespace distributed {

class DistributedRegister;
using GateResult = qubit::Result<std::reference_wrapper<DistributedRegister>>;
using qubit::Complex;
using qubit::Qubits;

class DistributedRegister {
public:
    // |0...0> of n qubits over the job's processes, after each has checked `available_bytes`
    // against its own block. Throws FatalError on every process alike: when the job's size is
    // not a power of two; with "capacity overflow"; or with the first refusing rank's text.
    DistributedRegister(std::uint64_t n, std::uint64_t available_bytes, qubit::TileShape tiles,
                        unsigned threads);

    std::uint64_t n() const noexcept { return n_; }

    GateResult H(std::uint64_t target);
    GateResult X(std::uint64_t target);
    GateResult U(std::uint64_t target, Complex u00, Complex u01, Complex u10, Complex u11);
    GateResult Rx(std::uint64_t target, double theta);
    GateResult Ry(std::uint64_t target, double theta);
    GateResult Rz(std::uint64_t target, double theta);
    GateResult CNOT(std::uint64_t control, std::uint64_t target);
    GateResult SWAP(std::uint64_t q1, std::uint64_t q2);
    GateResult CCNOT(std::uint64_t control1, std::uint64_t control2, std::uint64_t target);
    GateResult CSSWAP(std::uint64_t control, std::uint64_t target_1, std::uint64_t target_2);
    GateResult MCU(Qubits control, std::uint64_t target, Complex u00, Complex u01, Complex u10,
                   Complex u11);

    qubit::DiracKet observe();
    qubit::DiracKet observe_one(std::uint64_t target);
    qubit::DiracKet observe_mul(Qubits targets);
    std::vector<double> god_observe();

    // The basis index of this process's first amplitude, and the probabilities of its block,
    // for registers whose whole list would not fit one process. No messages.
    std::uint64_t first_index() const noexcept { return block_ << local_qubits(); }
    std::vector<double> block_probabilities();

private:
    unsigned local_qubits() const noexcept { return static_cast<unsigned>(n_) - global_; }
    std::uint64_t global_mask() const noexcept;
    // The value of global qubit q in this process's rank.
    bool rank_bit(std::uint64_t q) const noexcept {
        return ((block_ >> (q - local_qubits())) & 1) != 0;
    }

    // Records the call in the ledger, prefixed with this register's number; a job of one
    // process keeps no ledger, and spends nothing on the text.
    template <class... Args>
    void record(const char* method, const Args&... args) const {
        if (!CallLedger::keeping()) return;
        CallLedger::record("register " + std::to_string(number_) + ": " +
                           call_text(method, args...));
    }
    template <class... Args>
    GateResult gate(const qubit::GateRequest& request, const char* method, const Args&... args) {
        record(method, args...);
        if (!request.ok()) return qubit::Failure{request.message()};
        apply(request.value());
        return GateResult(*this);
    }
    // `gate`, which moves only local qubits, for this process's block (restrict_gate with the
    // global qubits fixed to the rank's bits); false when a global control holds 0 here.
    bool restrict_here(const qubit::GateRecord& gate, qubit::GateRecord& local) const;
    void apply(const qubit::GateRecord& gate);
    // SWAP of global qubit `global` with local qubit `local`, across the two partners.
    void trade(unsigned global, unsigned local);
    // Rank 0's draw, the same on every process.
    double draw() const;

    std::uint64_t n_;
    unsigned global_ = 0;      // p, or 0 for a register too small to spread
    std::uint64_t block_ = 0;  // the rank, or 0 for a register too small to spread
    std::uint64_t number_;     // this register's place among those the process made
    std::unique_ptr<qubit::QuantumRegister> local_;
};

}  // namespace distributed
