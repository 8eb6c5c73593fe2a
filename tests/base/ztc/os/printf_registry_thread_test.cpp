// Registrations and lookups from many threads at once lose nothing, and the
// registry refuses once its slots are taken.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/ztc/os/printf_internal.h"

namespace {

template <char Letter>
int lettered(const void *, char *buf, size_t size) {
    return snprintf(buf, size, "%c", Letter);
}
constexpr zt_printf_cb formatters[] = {lettered<'A'>, lettered<'B'>, lettered<'C'>, lettered<'D'>};

std::string name_of(int thread, int n) {
    return "t" + std::to_string(thread) + "_" + std::to_string(n);
}

TEST(PrintfRegistryThreads, ConcurrentRegistrationsFillEverySlotOnce) {
    constexpr int THREADS = 8, NAMES = 8;
    const int free_slots =
        ztc::printf_engine::REGISTRY_SLOTS - ztc::printf_engine::registry_slots_in_use();
    ASSERT_LT(free_slots, THREADS * NAMES);

    std::vector<std::vector<error_code_t>> results(THREADS, std::vector<error_code_t>(NAMES));
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int n = 0; n < NAMES; ++n) {
                results[t][n] = zt_printf_register(name_of(t, n).c_str(), formatters[(t + n) % 4]);
                // A lookup of a name that may be half registered elsewhere.
                char buf[64];
                zt_snprintf(buf, sizeof buf, ("%p{" + name_of((t + 1) % THREADS, n) + "}").c_str(),
                            nullptr);
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
            char buf[64];
            zt_snprintf(buf, sizeof buf, ("%p{" + name_of(t, n) + "}").c_str(), nullptr);
            const std::string expected = result == ERROR_SUCCESS
                                             ? std::string(1, char('A' + (t + n) % 4))
                                             : "(nil){" + name_of(t, n) + "}";
            EXPECT_EQ(buf, expected);
            registered += result == ERROR_SUCCESS;
        }
    }
    EXPECT_EQ(registered, free_slots);
    EXPECT_EQ(zt_printf_register("late", formatters[0]), ERROR_OUT_OF_MEMORY);
}

} // namespace
