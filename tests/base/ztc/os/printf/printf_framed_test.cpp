// Fixed text around a format prints as the format with that text as literal
// text would: bytes, result, %n counts and error texts, at every size.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/framed.hpp"

namespace {

using ztc::printf_engine::vsprintf_framed;

// The last named parameter is a plain pointer: va_start needs one.
int framed(char *buf, size_t size, const char *before, const char *fmt, const char *after, ...) {
    va_list ap;
    va_start(ap, after);
    const int result = vsprintf_framed(buf, size, before, fmt, after, ap);
    va_end(ap);
    return result;
}

struct Case {
    const char *fmt;
    // Calls `fn(fmt, ...)` with the case's arguments.
    int (*call)(const std::string &before, const char *fmt, const std::string &after, char *buf,
                size_t size, int *count);
};

#define ARGS(...)                                                                                  \
    [](const std::string &before, const char *fmt, const std::string &after, char *buf,            \
       size_t size, int *count) {                                                                  \
        (void)count;                                                                               \
        if (before.empty() && after.empty()) return zt_snprintf(buf, size, fmt, __VA_ARGS__);      \
        return framed(buf, size, before.c_str(), fmt, after.c_str(), __VA_ARGS__);                 \
    }

const Case cases[] = {
    {"opened %s in %d ms (%x)", ARGS("settings.dat", 12, 0xbeef)},
    {"%-8s|%5.1f|%c", ARGS("ab", 2.25, 'z')},
    {"at %n%d", ARGS(count, 7)},
    {"%2$s %1$d %m", ARGS(3, "two")},
    {"%*d|%ls", ARGS(6, 42, L"w\u00e9")},
    {"%--d", ARGS(1)},
    {"%2$d", ARGS(1, 2)},
    {"100%% sure", ARGS(0)},
    {"", ARGS(0)},
};

TEST(PrintfFramed, PrintsAsTheFormatWithLiteralTextAround) {
    const std::pair<std::string, std::string> frames[] = {
        {"-1:000000005.000042     GENERIC3    ", "\n"}, {"", "tail"}, {"head ", ""}};
    for (const Case &c : cases) {
        for (const auto &[before, after] : frames) {
            const std::string whole = before + c.fmt + after;
            for (size_t size : {size_t{0}, size_t{1}, size_t{10}, size_t{40}, size_t{200}}) {
                std::vector<char> theirs(size + 8, '#'), ours(size + 8, '#');
                int their_count = -1, our_count = -1;
                errno = ENOENT;
                const int expected =
                    c.call("", whole.c_str(), "", theirs.data(), size, &their_count);
                errno = ENOENT;
                const int got = c.call(before, c.fmt, after, ours.data(), size, &our_count);
                ASSERT_EQ(got, expected) << whole << " size " << size;
                ASSERT_EQ(ours, theirs) << whole << " size " << size;
                ASSERT_EQ(our_count, their_count) << whole << " size " << size;
            }
        }
    }
}

// The text writer lays its header into the line buffer and frames the
// message with it there.
TEST(PrintfFramed, TextAlreadyAtTheBufferStartIsKept) {
    const std::string before = "-1:000000005.000042     GENERIC3    ";
    const char *formats[] = {"opened %s in %d ms", "%2$s %1$s", "%--s", "a %s %s %s %s %s"};
    for (const char *fmt : formats) {
        const std::string whole = before + fmt + "\n";
        for (size_t size : {before.size() + 1, before.size() + 5, size_t{200}}) {
            std::vector<char> theirs(size, '#'), ours(size, '#');
            const int expected =
                zt_snprintf(theirs.data(), size, whole.c_str(), "x", "y", "z", "v", "w");
            memcpy(ours.data(), before.c_str(), before.size() + 1);
            const int got =
                framed(ours.data(), size, ours.data(), fmt, "\n", "x", "y", "z", "v", "w");
            ASSERT_EQ(got, expected) << whole << " size " << size;
            ASSERT_STREQ(ours.data(), theirs.data()) << whole << " size " << size;
        }
    }
}

// A "%" in the texts around is text, however many; only a format running
// into the text after it, or read otherwise with that text, is refused.
TEST(PrintfFramed, TextAroundIsLiteralAndAnUnfinishedFormatRefused) {
    char warm[8];
    zt_snprintf(warm, sizeof warm, "%d", 1); // the thread's later calls take the direct output
    const std::string percents(300, '%');
    struct Case {
        std::string before;
        const char *fmt, *after;
        std::string printed; // empty: refused
    };
    const Case cases[] = {
        {"50% ", "%d", "", "50% 1"},
        {"", "%d", "%s", "1%s"},
        {percents, "%d|%s", "", percents + "1|%"},
        {"", "rate %", "\n", ""},
        {"", "%-", "x", ""},
        // Ends that the text after them would continue.
        {"", "%1$", ">", ""},
        {"", "% +2$", "x", ""},
        {"", "%*2$", "d", ""},
        {"", "%.* ", "2$d", ""},
        {"", "%I3", "2d", ""},
        {"", "%p{i", "p}", ""},
    };
    for (const auto &c : cases) {
        char buf[1024];
        const int got = framed(buf, sizeof buf, c.before.c_str(), c.fmt, c.after, 1, "%");
        if (c.printed.empty()) {
            EXPECT_EQ(got, -1) << c.fmt;
            continue;
        }
        EXPECT_EQ(got, static_cast<int>(c.printed.size())) << c.printed;
        EXPECT_EQ(buf, c.printed);
    }
}

} // namespace
