// Zeroing the dropped amplitudes of a collapse, most of what it writes. An ordinary store
// first reads the line it fills (memset too, at these sizes), so a zeroed run costs a read
// and a write; streaming stores skip the read. They leave the lines out of the cache, though,
// which pays only for a state that would not stay cached anyway, and they must be fenced
// before the amplitudes are read or written otherwise: hence one filler per collapse, fenced
// when it goes out of scope.
#pragma once

#include <cstdint>

#include "qubit/state/complex.h"

namespace qubit {

class ZeroFiller {
public:
    // Runs shorter than this many amplitudes (4 KiB) are always stored the ordinary way.
    static constexpr std::uint64_t kStreamedRun = 256;

    // Whether a state of this size is too large for the last-level cache to keep.
    static bool worth_streaming(std::uint64_t state_bytes);

    explicit ZeroFiller(bool stream) : stream_(stream) {}
    ~ZeroFiller();
    ZeroFiller(const ZeroFiller&) = delete;
    ZeroFiller& operator=(const ZeroFiller&) = delete;

    // Sets the `count` amplitudes from `amplitudes` to +0.0 + 0i.
    void operator()(Complex* amplitudes, std::uint64_t count) {
        if (!stream_ || count < kStreamedRun) {
            for (std::uint64_t i = 0; i < count; ++i) amplitudes[i] = {0.0, 0.0};
            return;
        }
        stream(amplitudes, count);
    }

private:
    void stream(Complex* amplitudes, std::uint64_t count);

    bool stream_;
    bool streamed_ = false;
};

}  // namespace qubit
