// Threads formatting at once never see each other's tables, wide-text buffers
// or errno texts; registrations and lookups from many threads lose nothing, and
// the registry refuses once its slots are taken.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/internal.hpp"

namespace {

int nested(const void *value, char *buf, size_t size) {
    return zt_snprintf(buf, size, "(%2$ls:%1$d)", *static_cast<const int *>(value), L"n\u00e9");
}

TEST(PrintfThreads, ConcurrentCallsKeepTheirOwnState) {
    ASSERT_EQ(zt_printf_register("nested", nested), ERROR_SUCCESS);
    constexpr int THREADS = 8, ROUNDS = 2000;
    std::vector<std::string> failures(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([t, &failures] {
            // Each thread has its own record count, wide text and errno.
            const std::wstring wide(size_t(t + 1) * 50, wchar_t(L'\u0400' + t));
            const char utf8[] = {char(0xc0 | ((0x400 + t) >> 6)), char(0x80 | ((0x400 + t) & 0x3f)),
                                 0};
            std::string narrow, bars(size_t(t), '|');
            for (size_t i = 0; i < wide.size(); ++i) narrow += utf8;
            const std::string fmt = "%3$ls|%2$s|%m|%1$p{nested}" + bars + "%1$p{nested}";
            for (int round = 0; round < ROUNDS && failures[t].empty(); ++round) {
                const int value = t * ROUNDS + round;
                char expected[1024], got[1024];
                snprintf(expected, sizeof expected, "%s|t%d|[%d]%s|(n\xc3\xa9:%d)%s(n\xc3\xa9:%d)",
                         narrow.c_str(), t, t + 1, strerror(t + 1), value, bars.c_str(), value);
                errno = t + 1;
                const int length = zt_snprintf(got, sizeof got, fmt.c_str(), &value,
                                               ("t" + std::to_string(t)).c_str(), wide.c_str());
                if (length != int(strlen(expected)) || strcmp(got, expected) != 0)
                    failures[t] = std::string(got) + " != " + expected;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < THREADS; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

// The stack that `call` touches below its caller's frame (up to 64 KiB), after a first call
// (which allocates the thread's engine memory) has run on the same thread.
size_t stack_used_by(void (*call)()) {
    size_t used = 0;
    std::thread([&] {
        call();
        // Below this frame's own bytes, every byte gets a mark the call may overwrite.
        auto *const top = static_cast<unsigned char *>(__builtin_frame_address(0)) - 1024;
        auto *const bottom = top - 64 * 1024;
        for (volatile unsigned char *p = bottom; p < top; ++p) *p = 0xA7;
        call();
        const volatile unsigned char *p = bottom;
        while (p < top && *p == 0xA7) ++p;
        used = static_cast<size_t>(top - p);
    }).join();
    return used;
}

// A small wide call takes about the stack of the same narrow call: its scratch is sized to it.
TEST(PrintfThreads, SmallWideCallTakesTheStackOfTheNarrowOne) {
    const size_t narrow = stack_used_by([] {
        char out[400];
        zt_snprintf(out, sizeof out, "%s|%d|%ls", "a", 5, L"\u00e9");
    });
    static ssize_t wide_result;
    const size_t wide = stack_used_by([] {
        wchar_t out[100];
        wide_result = zt_swprintf(out, 100, "%s|%d|%ls", "a", 5, L"\u00e9");
    });
    EXPECT_EQ(wide_result, 5) << "the wide call did its work";
    EXPECT_GT(narrow, 0u);
    EXPECT_LT(wide, narrow + 4096) << "narrow call " << narrow;
}

template <char Letter>
int lettered(const void *, char *buf, size_t size) {
    return snprintf(buf, size, "%c", Letter);
}
constexpr zt_printf_cb formatters[] = {lettered<'A'>, lettered<'B'>, lettered<'C'>, lettered<'D'>};

std::string name_of(int thread, int n) {
    return "t" + std::to_string(thread) + "_" + std::to_string(n);
}

std::string lookup(const std::string &name) {
    char buf[64];
    zt_snprintf(buf, sizeof buf, ("%p{" + name + "}").c_str(), nullptr);
    return buf;
}

TEST(PrintfRegistryThreads, ConcurrentRegistrationsFillEverySlotOnce) {
    constexpr int THREADS = 8, NAMES = 8;
    using namespace ztc::printf_engine;
    const int free_slots = REGISTRY_SLOTS - registry_slots_in_use();
    ASSERT_LT(free_slots, THREADS * NAMES);

    std::vector<std::vector<error_code_t>> results(THREADS, std::vector<error_code_t>(NAMES));
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int n = 0; n < NAMES; ++n) {
                results[t][n] = zt_printf_register(name_of(t, n).c_str(), formatters[(t + n) % 4]);
                lookup(
                    name_of((t + 1) % THREADS, n)); // a name that may be half registered elsewhere
            }
        });
    }
    go = true;
    for (std::thread &thread : threads) thread.join();

    int registered = 0;
    for (int t = 0; t < THREADS; ++t) {
        for (int n = 0; n < NAMES; ++n) {
            const error_code_t result = results[t][n];
            ASSERT_TRUE(result == ERROR_SUCCESS || result == ERROR_OUT_OF_MEMORY) << result;
            EXPECT_EQ(lookup(name_of(t, n)), result == ERROR_SUCCESS
                                                 ? std::string(1, char('A' + (t + n) % 4))
                                                 : "(nil){" + name_of(t, n) + "}");
            registered += result == ERROR_SUCCESS;
        }
    }
    EXPECT_EQ(registered, free_slots);
    EXPECT_EQ(zt_printf_register("late", formatters[0]), ERROR_OUT_OF_MEMORY);
}

} // namespace
