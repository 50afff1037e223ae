// A register's gates that are checked but not yet applied: a bounded list, allocated once
// with the register, that the register applies before anything reads its amplitudes.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <utility>

#include "qubit/gates/gate_record.h"

namespace qubit {

class PendingGates {
public:
    static constexpr std::size_t kCapacity = 256;

    // No list: every gate is applied as it comes.
    PendingGates() = default;
    PendingGates(PendingGates&& other) noexcept
        : records_(std::move(other.records_)), count_(std::exchange(other.count_, 0)) {}
    PendingGates& operator=(PendingGates&& other) noexcept {
        records_ = std::move(other.records_);
        count_ = std::exchange(other.count_, 0);
        return *this;
    }
    // A list of kCapacity records.
    static PendingGates with_list();

    bool deferring() const noexcept { return records_ != nullptr; }
    bool empty() const noexcept { return count_ == 0; }
    bool full() const noexcept { return count_ == kCapacity; }
    void push(const GateRecord& gate) noexcept { records_[count_++] = gate; }
    std::span<const GateRecord> gates() const noexcept { return {records_.get(), count_}; }
    void clear() noexcept { count_ = 0; }

private:
    std::unique_ptr<GateRecord[]> records_;
    std::size_t count_ = 0;
};

}  // namespace qubit
