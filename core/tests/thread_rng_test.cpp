#include "qubit/random/thread_rng.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "chacha12_testdata.h"
#include "qubit/random/os_random.h"
#include "qubit/state/fatal_error.h"

namespace qubit {
namespace {

using namespace testdata;

// ---- The operating-system layer, driven through fake system calls.

int g_errno_to_report = 0;
long fail_with_errno(void*, std::size_t, unsigned) {
    errno = g_errno_to_report;
    return -1;
}
long return_zero(void*, std::size_t, unsigned) { return 0; }
long return_too_many(void*, std::size_t length, unsigned) { return static_cast<long>(length) + 1; }

// One byte per call, the first call interrupted: the key must still be bytes 0, 1, ... 31.
int g_trickle_calls = 0;
long trickle(void* buffer, std::size_t, unsigned) {
    const int call = g_trickle_calls++;
    if (call == 0) {
        errno = EINTR;
        return -1;
    }
    *static_cast<std::uint8_t*>(buffer) = static_cast<std::uint8_t>(call - 1);
    return 1;
}

std::string failure_of(const OsRandomBackend& backend) {
    const Result<ChaChaKey> key = os_random_key(backend);
    return key.ok() ? "no failure" : key.message();
}

TEST(OsRandom, FailureTexts) {
    OsRandomBackend backend = system_random_backend();
    backend.getrandom = fail_with_errno;
    g_errno_to_report = EIO;
    EXPECT_EQ(failure_of(backend), std::string(std::strerror(EIO)) + " (os error 5)");
    g_errno_to_report = 0;
    EXPECT_EQ(failure_of(backend), "errno: did not return a positive value");
    backend.getrandom = return_zero;
    EXPECT_EQ(failure_of(backend), "unexpected situation");
    backend.getrandom = return_too_many;
    EXPECT_EQ(failure_of(backend), "unexpected situation");
}

TEST(OsRandom, InterruptedAndShortCallsStillFillTheKey) {
    OsRandomBackend backend = system_random_backend();
    backend.getrandom = trickle;
    g_trickle_calls = 0;
    const Result<ChaChaKey> key = os_random_key(backend);
    ASSERT_TRUE(key.ok()) << key.message();
    for (std::size_t i = 0; i < key.value().size(); ++i) EXPECT_EQ(key.value()[i], i);
}

TEST(OsRandom, MissingOrRefusedCallFallsBackToTheDevices) {
    OsRandomBackend backend = system_random_backend();
    backend.getrandom = fail_with_errno;
    for (int refusal : {ENOSYS, EPERM}) {
        g_errno_to_report = refusal;
        const Result<ChaChaKey> first = os_random_key(backend);
        const Result<ChaChaKey> second = os_random_key(backend);
        ASSERT_TRUE(first.ok() && second.ok());
        EXPECT_NE(first.value(), second.value());
    }
    backend.bytes_device = "/nonexistent/urandom";
    EXPECT_EQ(failure_of(backend), std::string(std::strerror(ENOENT)) + " (os error 2)");
    backend.ready_device = "/nonexistent/random";
    backend.bytes_device = "/dev/urandom";
    EXPECT_EQ(failure_of(backend), std::string(std::strerror(ENOENT)) + " (os error 2)");
    // Any other error is reported, not worked around.
    g_errno_to_report = EACCES;
    EXPECT_EQ(failure_of(backend), std::string(std::strerror(EACCES)) + " (os error 13)");
}

// The fallback reads the device named, all 32 bytes of it, and nothing else; a device that
// ends early gives no key.
TEST(OsRandom, FallbackTakesTheKeyFromTheDeviceAndNeedsAllOfIt) {
    std::string path = ::testing::TempDir() + "zelvanic-key-XXXXXX";
    const int fd = ::mkstemp(path.data());
    ASSERT_GE(fd, 0);
    std::array<std::uint8_t, 32> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(7 * i);
    ASSERT_EQ(::write(fd, bytes.data(), 31), 31);
    OsRandomBackend backend{fail_with_errno, path.c_str(), path.c_str()};
    g_errno_to_report = ENOSYS;
    EXPECT_EQ(failure_of(backend), "unexpected situation");
    ASSERT_EQ(::write(fd, bytes.data() + 31, 1), 1);
    const Result<ChaChaKey> key = os_random_key(backend);
    ::close(fd);
    ::unlink(path.c_str());
    ASSERT_TRUE(key.ok()) << key.message();
    EXPECT_EQ(key.value(), bytes);
}

// ---- The per-thread generator. Each case runs on a fresh thread, which has no generator yet.

template <class Body>
void on_new_thread(Body body) {
    std::thread(body).join();
}

std::atomic<bool> g_source_fails{false};
Result<ChaChaKey> counted_key_or_io_error() {
    if (g_source_fails) {
        OsRandomBackend broken = system_random_backend();
        broken.getrandom = fail_with_errno;
        g_errno_to_report = EIO;
        return os_random_key(broken);
    }
    return hex_key(field(section("key_00_to_1f"), "key"));
}

class ThreadRng : public ::testing::Test {
protected:
    void SetUp() override { previous_ = replace_thread_key_source(counted_key_or_io_error); }
    void TearDown() override { replace_thread_key_source(previous_); }

private:
    KeySource previous_ = nullptr;
};

TEST_F(ThreadRng, DrawsFollowTheStreamOfTheThreadsKey) {
    g_source_fails = false;
    const std::string counted = section("key_00_to_1f");
    on_new_thread([&] {
        for (const std::string& hex : items(field(counted, "first_16_draw_f64_hex"))) {
            EXPECT_EQ(draw_f64(), hex_double(hex));
        }
    });
}

TEST_F(ThreadRng, FailedSeedingThrowsAndTheNextDrawTriesAgain) {
    on_new_thread([] {
        g_source_fails = true;
        try {
            (void)draw_u64();
            ADD_FAILURE() << "seeding did not fail";
        } catch (const FatalError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("could not initialize ThreadRng: ") +
                                                 std::strerror(EIO) + " (os error 5)");
        }
        EXPECT_THROW((void)draw_f64(), FatalError);
        g_source_fails = false;
        EXPECT_EQ(draw_u64(), integers(field(section("key_00_to_1f"), "first_16_draw_u64"))[0]);
    });
}

// Once seeded, a thread never sees the source fail: re-keying failures are silent, and the
// stream goes on under the old key. Another thread that has no generator yet does see it.
TEST_F(ThreadRng, ASourceThatFailsLaterOnlyStopsThreadsStillToSeed) {
    g_source_fails = false;
    const ChaChaKey key = hex_key(field(section("key_00_to_1f"), "key"));
    std::atomic<bool> seeded{false}, source_broken{false}, done{false};
    std::thread drawer([&] {
        (void)draw_u64();
        seeded = true;
        while (!source_broken) std::this_thread::yield();
        // Three re-key points pass; every draw continues the first key's stream.
        ChaCha12Stream same_key(key, []() -> Result<ChaChaKey> { return Failure{"dry"}; });
        (void)same_key.next_u64();
        for (int i = 0; i < 3 * 8192; ++i) ASSERT_EQ(draw_u64(), same_key.next_u64()) << i;
        done = true;
    });
    while (!seeded) std::this_thread::yield();
    g_source_fails = true;
    source_broken = true;
    drawer.join();
    EXPECT_TRUE(done);
    on_new_thread([] { EXPECT_THROW((void)draw_u64(), FatalError); });
    g_source_fails = false;
}

TEST(ThreadRngDraws, UnitDoubleEdges) {
    const std::string edges = section("draw_f64_edges");
    for (const char* name : {"u64_max", "u64_2047", "u64_2048"}) {
        const std::vector<std::string> pair = items(field(edges, name));
        EXPECT_EQ(unit_double_from(std::stoull(pair[0])), hex_double(pair[1])) << name;
    }
    EXPECT_LT(unit_double_from(~std::uint64_t{0}), 1.0);
}

std::array<std::uint64_t, 4> four_draws() {
    return {draw_u64(), draw_u64(), draw_u64(), draw_u64()};
}

TEST(ThreadRngDraws, ThreadsDrawDifferentStreams) {
    std::array<std::uint64_t, 4> first{}, second{};
    on_new_thread([&] { first = four_draws(); });
    on_new_thread([&] { second = four_draws(); });
    EXPECT_NE(first, second);
    EXPECT_NE(four_draws(), first);
}

// Without a fresh seed, a child would draw exactly what its parent draws next.
TEST(ThreadRngDraws, ForkedChildDoesNotReplayItsParent) {
    (void)draw_u64();  // this thread has a generator with buffered output
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const std::array<std::uint64_t, 4> drawn = four_draws();
        const bool sent = ::write(pipe_ends[1], drawn.data(), sizeof drawn) == sizeof drawn;
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipe_ends[1]);
    std::array<std::uint64_t, 4> from_child{};
    const ssize_t got = ::read(pipe_ends[0], from_child.data(), sizeof from_child);
    ::close(pipe_ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof from_child));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(four_draws(), from_child);
}

}  // namespace
}  // namespace qubit
