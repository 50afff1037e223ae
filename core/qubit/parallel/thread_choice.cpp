#include "qubit/parallel/thread_choice.h"

#include "qubit/parallel/worker_pool.h"

namespace qubit {

ThreadChoice thread_choice() {
    ThreadChoice choice{1, read_count_setting("ZELVANIC_THREADS", 0, kMostThreads, "auto")};
    switch (choice.setting.kind) {
        case CountSetting::Kind::word:
            choice.threads = usable_processors();
            break;
        case CountSetting::Kind::count:
            choice.threads = choice.setting.count == 0
                                 ? usable_processors()
                                 : static_cast<unsigned>(choice.setting.count);
            break;
        default:
            break;
    }
    return choice;
}

}  // namespace qubit
