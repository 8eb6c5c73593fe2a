// Threads that come and go while they format and print: per-thread memory, thread
// numbers and exit hooks are all given back (LeakSanitizer checks the memory at
// exit under the asan build; ThreadSanitizer checks the races).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <string>
#include <vector>

#include "base/ztc/debug/debug.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/thread.h"
#include "base/ztc/time/time.h"
#include "debug_test_support.h"

namespace {

std::atomic<int> hooks_run{0};
std::atomic<int> bad_texts{0};

int count_hook(void *) {
    hooks_run.fetch_add(1);
    return 0;
}

void *worker(void *arg) {
    auto *out = static_cast<debug_output_t *>(arg);
    const int n = debug_get_thread_num();
    zt_thread_atexit(count_hook, nullptr);
    zt_time_t d = 1234567;
    char buf[256];
    for (int i = 0; i < 20; ++i) {
        errno = ENOENT;
        zt_snprintf(buf, sizeof buf, "%d %ls %p{zt_dur} %m", n, L"w\u00e9de", &d);
        const std::string expected = std::to_string(n) + " w\xC3\xA9"
                                                         "de 1.23ms [2]";
        if (std::strncmp(buf, expected.c_str(), expected.size()) != 0) bad_texts.fetch_add(1);
        debug_print(out, 1, 1, "tests/lifecycle", __LINE__, "worker", "thread %d line %d", n, i);
    }
    return nullptr;
}

TEST(ThreadLifecycle, SixtyFourThreadsAtATimeComeAndGoGivingEverythingBack) {
    dtest::Sink sink;
    debug_output_t out =
        dtest::make_output(DEBUG_OUTPUT_TEXT, 7, reinterpret_cast<intptr_t>(&sink));
    const uint32_t saved = debug_thread_nums_enabled;
    debug_thread_nums_enabled = 1;

    constexpr int waves = 4, per_wave = 64;
    for (int w = 0; w < waves; ++w) {
        std::vector<pthread_t> threads(per_wave);
        for (auto &t : threads) ASSERT_EQ(pthread_create(&t, nullptr, worker, &out), 0);
        for (auto &t : threads) pthread_join(t, nullptr);
    }
    EXPECT_EQ(hooks_run.load(), waves * per_wave) << "each ending thread runs its hook once";
    EXPECT_EQ(bad_texts.load(), 0);
    EXPECT_EQ(std::count(sink.bytes.begin(), sink.bytes.end(), '\n'), waves * per_wave * 20);

    // Every number came back: a new thread starts again from the top.
    int fresh = -2;
    pthread_t t;
    pthread_create(
        &t, nullptr,
        [](void *p) -> void * {
            *static_cast<int *>(p) = debug_get_thread_num();
            return nullptr;
        },
        &fresh);
    pthread_join(t, nullptr);
    EXPECT_EQ(fresh, 99);
    debug_thread_nums_enabled = saved;
}

} // namespace
