// The borrow flag every object carries: 0 free, -1 held exclusively by a running call,
// k > 0 shared by k readers. It refuses a second call on a register while a first one is
// still converting its arguments (which can run the caller's Python code).
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

class SharedHold {
public:
    explicit SharedHold(BorrowFlag& flag) : flag_(flag) { flag_.fetch_add(1); }
    ~SharedHold() { flag_.fetch_sub(1); }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;

private:
    BorrowFlag& flag_;
};

}  // namespace zelvanic
