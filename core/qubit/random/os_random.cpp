#include "qubit/random/os_random.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>

namespace qubit {
namespace {

// Outcome of one step of reading a key: 0 on success, a positive errno, or one of these.
constexpr int kNoPositiveErrno = -1;
constexpr int kUnexpectedCount = -2;

int failure_code_from_errno() {
    const int code = errno;
    return code > 0 ? code : kNoPositiveErrno;
}

std::string failure_text(int code) {
    if (code == kNoPositiveErrno) return "errno: did not return a positive value";
    if (code == kUnexpectedCount) return "unexpected situation";
    return std::system_category().message(code) + " (os error " + std::to_string(code) + ")";
}

// Fills `length` bytes with `read_some(pointer, count)`, a call with read(2)-like results:
// interrupted calls are repeated, short reads continued.
template <class ReadSome>
int fill_exact(std::uint8_t* buffer, std::size_t length, ReadSome read_some) {
    while (length > 0) {
        const long got = read_some(buffer, length);
        if (got > 0 && static_cast<unsigned long>(got) <= length) {
            buffer += got;
            length -= static_cast<std::size_t>(got);
        } else if (got == -1) {
            const int code = failure_code_from_errno();
            if (code != EINTR) return code;
        } else {
            return kUnexpectedCount;
        }
    }
    return 0;
}

int open_read_only(const char* path, int& fd) {
    for (;;) {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) return 0;
        const int code = failure_code_from_errno();
        if (code != EINTR) return code;
    }
}

// Blocks until `path` is readable: /dev/random becomes so once the kernel's pool is seeded,
// after which /dev/urandom is as good as getrandom.
int wait_until_readable(const char* path) {
    int fd = -1;
    if (const int code = open_read_only(path, fd)) return code;
    int result = 0;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, -1) >= 0) break;
        const int code = failure_code_from_errno();
        if (code != EINTR && code != EAGAIN) {
            result = code;
            break;
        }
    }
    ::close(fd);
    return result;
}

int read_device(const char* path, std::uint8_t* buffer, std::size_t length) {
    int fd = -1;
    if (const int code = open_read_only(path, fd)) return code;
    const int result = fill_exact(buffer, length, [fd](std::uint8_t* at, std::size_t count) {
        return static_cast<long>(::read(fd, at, count));
    });
    ::close(fd);
    return result;
}

long system_getrandom(void* buffer, std::size_t length, unsigned flags) {
    return ::syscall(SYS_getrandom, buffer, length, flags);
}

Result<ChaChaKey> default_key_source() { return os_random_key(); }

std::atomic<KeySource> g_thread_key_source{&default_key_source};

}  // namespace

const OsRandomBackend& system_random_backend() {
    static constexpr OsRandomBackend kSystem{&system_getrandom, "/dev/random", "/dev/urandom"};
    return kSystem;
}

Result<ChaChaKey> os_random_key(const OsRandomBackend& backend) {
    ChaChaKey key{};
    int code = fill_exact(key.data(), key.size(), [&backend](std::uint8_t* at, std::size_t count) {
        return backend.getrandom(at, count, 0);
    });
    if (code == ENOSYS || code == EPERM) {
        code = wait_until_readable(backend.ready_device);
        if (code == 0) code = read_device(backend.bytes_device, key.data(), key.size());
    }
    if (code != 0) return Failure{failure_text(code)};
    return key;
}

KeySource thread_key_source() { return g_thread_key_source.load(std::memory_order_acquire); }

KeySource replace_thread_key_source(KeySource source) {
    return g_thread_key_source.exchange(source, std::memory_order_acq_rel);
}

}  // namespace qubit
