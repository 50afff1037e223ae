// The borrow flag a register carries: 0 free, -1 held by a running call. It refuses a second
// call on a register while a first one is still converting its arguments (which can run the
// caller's Python code). Kets are immutable and carry none.
#pragma once

#include <atomic>
#include <cstddef>

namespace zelvanic {

using BorrowFlag = std::atomic<std::ptrdiff_t>;

class ExclusiveHold {
public:
    explicit ExclusiveHold(BorrowFlag& flag) : flag_(&flag) {
        std::ptrdiff_t expected = 0;
        if (!flag.compare_exchange_strong(expected, -1)) flag_ = nullptr;
    }
    ~ExclusiveHold() { release(); }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

    explicit operator bool() const noexcept { return flag_ != nullptr; }

    void release() noexcept {
        if (flag_ != nullptr) flag_->store(0);
        flag_ = nullptr;
    }

private:
    BorrowFlag* flag_;
};

}  // namespace zelvanic
