// How many threads a register's work may spread over: ZELVANIC_THREADS, read when a register
// is made. Unset or 1: the calling thread alone, and no other thread is ever started. 0 or
// "auto": one for each processor this process may run on. N: N. Anything else is refused,
// for the caller to report, and the register runs on the calling thread.
#pragma once

#include "qubit/state/env_setting.h"

namespace qubit {

// More threads than this are refused: far past any machine's processors.
inline constexpr unsigned kMostThreads = 1024;

struct ThreadChoice {
    unsigned threads;
    CountSetting setting;
};

ThreadChoice thread_choice();

}  // namespace qubit
