// The measurements and read-outs of a spread register. Each sum runs block after block in
// rank order (Job::pass_along), continuing the one-process pass exactly, so every process
// sees the one process's sum to the last bit; rank 0 draws, and each process collapses its
// own block onto the common outcome.
#include <algorithm>
#include <cmath>
#include <new>
#include <optional>

#include "distributed/call_ledger.h"
#include "distributed/call_text.h"
#include "distributed/distributed_register.h"
#include "distributed/job.h"
#include "qubit/measure/collapse.h"
#include "qubit/measure/outcome_table.h"
#include "qubit/measure/probability_readout.h"
#include "qubit/random/thread_rng.h"
#include "qubit/state/fatal_error.h"
#include "qubit/state/meminfo.h"
#include "qubit/state/qubit_limits.h"

namespace distributed {

using qubit::DiracKet;

double DistributedRegister::draw() const {
    double r = 0.0;
    const std::string error =
        Job::rank() == 0 ? Job::attempt([&] { r = qubit::draw_f64(); }) : std::string();
    Job::broadcast(&r, sizeof r, 0);
    Job::throw_first_error(error);
    return r;
}

DiracKet DistributedRegister::observe() {
    record("observe");
    CallLedger::synchronise();
    const double r = draw();
    const std::span<Complex> state = local_->state();
    qubit::RunningSelection running;
    const auto continue_here = [&] { continue_selection(state, first_index(), r, running); };
    if (global_ == 0) {
        continue_here();
    } else {
        Job::pass_along(&running, sizeof running, continue_here);
    }
    const std::uint64_t outcome = running.selection().outcome;
    std::optional<std::uint64_t> here;
    if (outcome >= first_index() && outcome - first_index() < state.size()) {
        here = outcome - first_index();
    }
    qubit::collapse_to_basis(state, here, local_->threads());
    return DiracKet{outcome, n_};
}

DiracKet DistributedRegister::observe_one(std::uint64_t target) {
    record("observe_one", target);
    if (target >= n_) throw qubit::FatalError("target out of scope!");
    CallLedger::synchronise();
    const std::span<Complex> state = local_->state();
    const bool local = target < local_qubits();
    qubit::QubitOneRunning running;
    const auto continue_here = [&] {
        if (local) {
            continue_qubit_one(state, static_cast<unsigned>(target), running);
        } else {
            continue_qubit_one_block(state, rank_bit(target), running);
        }
    };
    if (global_ == 0) {
        continue_here();
    } else {
        Job::pass_along(&running, sizeof running, continue_here);
    }
    const qubit::QubitOneChoice choice = qubit::choose_qubit_one(running.sum(), draw());
    if (local) {
        qubit::collapse_qubit_one(state, static_cast<unsigned>(target), choice, local_->threads());
    } else {
        qubit::collapse_block(state, rank_bit(target) == choice.one, choice.g, local_->threads());
    }
    return DiracKet{choice.one ? 1u : 0u, 1};
}

DiracKet DistributedRegister::observe_mul(Qubits targets) {
    record("observe_mul", targets);
    for (const std::uint64_t target : targets) {
        if (target >= n_) throw qubit::FatalError("target out of scope!");
    }
    std::sort(targets.begin(), targets.end());
    if (targets.size() >= qubit::kOverflowQubits) throw qubit::FatalError("capacity overflow");
    CallLedger::synchronise();
    const std::span<Complex> state = local_->state();

    // The table of every joint outcome, on every process; this process adds to the slice whose
    // bits for the global targets (which sort last) are its rank's.
    const std::size_t k = targets.size();
    const std::size_t local_count = static_cast<std::size_t>(
        std::lower_bound(targets.begin(), targets.end(), local_qubits()) - targets.begin());
    std::uint64_t slice = 0;
    for (std::size_t m = local_count; m < k; ++m) {
        slice |= std::uint64_t{rank_bit(targets[m])} << (m - local_count);
    }
    std::vector<double> table;
    Job::agree([&] {
        try {
            table.assign(std::size_t{1} << k, 0.0);
        } catch (const std::bad_alloc&) {
            throw qubit::allocation_failure(
                std::uint64_t{8} << k,
                " (outcome table of " + std::to_string(k) + " measured qubits)");
        }
    });

    const std::span<const std::uint64_t> local_targets(targets.data(), local_count);
    const std::span<double> mine(table.data() + (slice << local_count),
                                 std::size_t{1} << local_count);
    const auto continue_here = [&] {
        const qubit::OutcomeTable part(state, local_targets, mine);
        std::copy(part.entries().begin(), part.entries().end(), mine.begin());
    };
    if (global_ == 0) {
        continue_here();
    } else {
        Job::pass_along(table.data(), table.size() * sizeof(double), continue_here);
    }

    const qubit::Selection chosen = qubit::select_by_running_sum(table, draw());
    if (chosen.has_mass) {  // else, as in one process, nothing to renormalise by
        const double g = std::sqrt(table[chosen.outcome]);
        if ((chosen.outcome >> local_count) == slice) {
            const std::uint64_t local_outcome =
                chosen.outcome & ((std::uint64_t{1} << local_count) - 1);
            qubit::collapse_joint(state, local_targets, local_outcome, g, local_->threads());
        } else {
            qubit::collapse_block(state, false, g, local_->threads());
        }
    }
    return DiracKet{chosen.outcome, k};
}

std::vector<double> DistributedRegister::god_observe() {
    record("god_observe");
    CallLedger::synchronise();
    const std::uint64_t count = std::uint64_t{1} << n_;
    std::vector<double> all;
    Job::agree([&] {
        qubit::check_readout_fits(count, qubit::available_memory());
        all = qubit::reserved_doubles(count);
        all.resize(count);
    });
    const std::span<const Complex> state = local_->state();
    qubit::fill_probabilities(state, all.data() + first_index(), local_->threads());
    if (global_ > 0) Job::gather_blocks(all.data(), state.size());
    return all;
}

std::vector<double> DistributedRegister::block_probabilities() {
    record("block_probabilities");
    return qubit::probabilities(local_->state(), qubit::available_memory(), local_->threads());
}

}  // namespace distributed
