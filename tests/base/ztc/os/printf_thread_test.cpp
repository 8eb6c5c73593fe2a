// Threads formatting at once never see each other's tables, wide-text
// buffers or errno texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/ztc/os/printf.h"

namespace {

int nested(const void *value, char *buf, size_t size) {
    const int n = *static_cast<const int *>(value);
    return zt_snprintf(buf, size, "(%2$ls:%1$d)", n, L"n\u00e9");
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
            const std::string narrow = [&] {
                const char utf8[] = {char(0xc0 | ((0x400 + t) >> 6)),
                                     char(0x80 | ((0x400 + t) & 0x3f))};
                std::string s;
                for (size_t i = 0; i < wide.size(); ++i) s.append(utf8, 2);
                return s;
            }();
            const std::string fmt =
                "%3$ls|%2$s|%m|%1$p{nested}" + std::string(size_t(t), '|') + "%1$p{nested}";
            for (int round = 0; round < ROUNDS && failures[t].empty(); ++round) {
                const int value = t * ROUNDS + round;
                char expected[1024], got[1024];
                snprintf(expected, sizeof expected, "%s|t%d|[%d]%s|(n\xc3\xa9:%d)%s(n\xc3\xa9:%d)",
                         narrow.c_str(), t, t + 1, strerror(t + 1), value,
                         std::string(size_t(t), '|').c_str(), value);
                errno = t + 1;
                const int length = zt_snprintf(got, sizeof got, fmt.c_str(), &value,
                                               ("t" + std::to_string(t)).c_str(), wide.c_str());
                if (length != int(strlen(expected)) || strcmp(got, expected) != 0) {
                    failures[t] = std::string(got) + " != " + expected;
                }
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < THREADS; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

} // namespace
