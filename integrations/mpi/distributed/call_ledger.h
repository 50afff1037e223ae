// Keeps the processes of a job honest: they must make the same calls, in the same order, with
// the same arguments (SPMD). Each process counts its calls and folds each one's text into a
// running digest; before any call sends a message, every process hands its count, digest and
// current call to every other. Processes that disagree are stopped, all of them, with the same
// error naming both calls, before a single amplitude is traded. From then on every call that
// would send a message raises that error again, without sending anything.
#pragma once

#include <cstdint>
#include <string>

namespace distributed {

class CallLedger {
public:
    // Whether calls are worth recording: only when there are processes to disagree.
    static bool keeping();
    // Counts `call` (its text, say "register 2: h(17)") and folds it into the digest.
    static void record(const std::string& call);
    // Compares every process's count, digest and last call. Throws FatalError, on every
    // process alike, when they differ or have differed.
    static void synchronise();
    // The last check, at the end of the program, when nothing can be raised any more: the
    // error when the processes differ now, else an empty string. Sends nothing, and says
    // nothing, after a divergence already raised: the others may no longer answer.
    static std::string divergence_at_exit();

private:
    static std::string compare();
};

}  // namespace distributed
