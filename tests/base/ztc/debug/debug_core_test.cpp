// The debug print: filtering, time texts, thread names, errno and re-entry from callbacks.
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/ztc/os/printf.h"
#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
struct Seen {
    int calls = 0, thread_num = 0, module = 0, level = 0, line = 0;
    std::string name, time_text, file, function, message;
    struct timeval tv {};
    int set_errno = 0;             // stored into errno after the call
    const char *reenter = nullptr; // printed to all outputs from inside the call
};

void seen_cb(intptr_t user, int thread_num, const char *name, const struct timeval *tv,
             const char *time_text, int module, int level, const char *file, int line,
             const char *function, const char *message) {
    auto *s = reinterpret_cast<Seen *>(user);
    *s = Seen{s->calls + 1, thread_num, module,  level, line,         name,      time_text,
              file,         function,   message, *tv,   s->set_errno, s->reenter};
    if (s->reenter) debug_print(nullptr, 0, 1, "f", 1, "g", "%s", s->reenter);
    if (s->set_errno) errno = s->set_errno;
}

debug_output_t external(int id, Seen *seen) {
    debug_output_t o = make_output(DEBUG_OUTPUT_EXTERNAL, id, 0);
    o.u.external.callback = seen_cb;
    o.u.external.user = reinterpret_cast<intptr_t>(seen);
    return o;
}
} // namespace

TEST(DebugPrint, StandardErrorLineMatchesTheExample) {
    FixedTime clock;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    intptr_t saved = debug_output_stderr.u.text.user;
    debug_output_stderr.u.text.user = fds[1];
    {
        ListScope list{&debug_output_stderr};
        debug_print(nullptr, 49, 1, "base/ztc/os/printf", 227, "zt_vsprintf", "msg %d", 7);
    }
    debug_output_stderr.u.text.user = saved;
    close(fds[1]);
    char buf[512];
    ssize_t n = read(fds[0], buf, sizeof buf);
    close(fds[0]);
    std::string expected = "-1:000000005.000042" + std::string(9, ' ') + "TAG1" +
                           std::string(25, ' ') + "zt_vsprintf:  227:  msg 7\n";
    EXPECT_EQ(std::string(buf, n > 0 ? n : 0), expected);
}

// The output's level for the module decides; the callers' pre-test level does not.
TEST(DebugPrint, LevelAndModuleDecideDelivery) {
    struct Case {
        int module, level;
        bool delivered;
    } cases[] = {{0, 3, true},   {0, 4, false},       {63, 1, true},      {-1, 1, false},
                 {64, 1, false}, {INT_MIN, 1, false}, {1000000, 1, false}};
    int saved_max = debug_max_runtime_level;
    debug_max_runtime_level = 0;
    for (const Case &c : cases) {
        for (bool all : {true, false}) {
            FixedTime clock;
            Sink sink;
            debug_output_t out =
                make_output(DEBUG_OUTPUT_TEXT, 1, reinterpret_cast<intptr_t>(&sink));
            ListScope list{&out};
            debug_print(all ? nullptr : &out, c.module, c.level, "f", 1, "g", "x");
            EXPECT_EQ(!sink.bytes.empty(), c.delivered) << c.module << " " << c.level;
            EXPECT_EQ(time_calls, c.delivered ? 1 : 0) << c.module << " " << c.level;
            EXPECT_EQ(debug_level_enabled(all ? nullptr : &out, c.module, c.level), c.delivered);
        }
    }
    debug_max_runtime_level = saved_max;
}

TEST(DebugPrint, TimeTextInBothForms) {
    struct Case {
        uint8_t calendar;
        time_t sec;
        suseconds_t usec;
        const char *text;
    } cases[] = {{0, 5, 42, "000000005.000042"},
                 {0, 1234567890, 999999, "1234567890.999999"},
                 {1, 90061, 7, "1970-01-02 01:01:01.000007"}};
    static struct timeval now;
    for (const Case &c : cases) {
        now = {c.sec, c.usec};
        auto saved = debug_get_time_function;
        debug_get_time_function = [](struct timeval *tv) { *tv = now; };
        debug_time_calendar = c.calendar;
        Seen seen;
        debug_output_t out = external(1, &seen);
        debug_print(&out, 2, 1, "base/x", 9, "fn", "m%d", 3);
        debug_time_calendar = 0;
        debug_get_time_function = saved;
        EXPECT_EQ(seen.time_text, c.text);
        EXPECT_EQ(seen.tv.tv_sec, c.sec);
        EXPECT_EQ(seen.tv.tv_usec, c.usec);
        EXPECT_EQ(seen.message + seen.file + seen.function, "m3base/xfn");
        EXPECT_EQ(seen.module * 100 + seen.level * 10 + seen.line, 219);
    }
}

// The clock form at the ends of both fields, as "%09lu.%06lu" prints them.
TEST(DebugPrint, ClockTimeTextAtTheEnds) {
    const struct timeval times[] = {
        {0, 0}, {999999999, 999999}, {1000000000, 1000000}, {LONG_MAX, 5}, {7, -1}, {-1, 123}};
    static struct timeval now;
    for (const struct timeval &t : times) {
        now = t;
        auto saved = debug_get_time_function;
        debug_get_time_function = [](struct timeval *tv) { *tv = now; };
        Seen seen;
        debug_output_t out = external(1, &seen);
        debug_print(&out, 2, 1, "base/x", 9, "fn", "m");
        debug_get_time_function = saved;
        char expected[64];
        snprintf(expected, sizeof expected, "%09lu.%06lu", static_cast<unsigned long>(t.tv_sec),
                 static_cast<unsigned long>(t.tv_usec));
        EXPECT_EQ(seen.time_text, expected);
    }
}

TEST(DebugPrint, ThreadNamesAndTheTagModule) {
    strcpy(debug_thread_names[0], "worker");
    Seen seen;
    debug_output_t out = external(1, &seen);
    ListScope list{&out};
    std::string names[3];
    int nums[3];
    std::thread([&] {
        for (int i = 0; i < 2; ++i) {
            debug_print(nullptr, i == 0 ? 0 : 49, 1, "f", 1, "g", "x");
            names[i] = seen.name;
            nums[i] = seen.thread_num;
        }
    }).join();
    debug_print(nullptr, 0, 1, "f", 1, "g", "x");
    names[2] = seen.name;
    nums[2] = seen.thread_num;
    debug_thread_names[0][0] = '\0';
    EXPECT_EQ(names[0], "worker"); // allocation off: every other thread is number 0
    EXPECT_EQ(names[1], "");
    EXPECT_EQ(names[2], "");
    EXPECT_EQ(nums[0], 0);
    EXPECT_EQ(nums[1], 0);
    EXPECT_EQ(nums[2], -1);
}

// %m shows errno as the caller left it, though the clock and an earlier output changed it.
TEST(DebugPrint, ErrnoConversionSeesTheCallersErrno) {
    auto saved = debug_get_time_function;
    debug_get_time_function = [](struct timeval *tv) {
        *tv = {};
        errno = EBADF;
    };
    Seen seen;
    seen.set_errno = EACCES;
    Sink sink;
    debug_output_t first = external(1, &seen);
    debug_output_t second = make_output(DEBUG_OUTPUT_TEXT, 2, reinterpret_cast<intptr_t>(&sink));
    ListScope list{&first, &second};
    errno = ENOENT;
    debug_print(nullptr, 0, 1, "f", 1, "g", "<%m>");
    debug_get_time_function = saved;
    char want[256];
    errno = ENOENT;
    zt_snprintf(want, sizeof want, "<%m>");
    EXPECT_EQ(seen.message, want);
    EXPECT_NE(sink.bytes.find(std::string(want) + "\n"), std::string::npos) << sink.bytes;
}

// A callback printing to all outputs re-enters the list lock, skips its own output and
// reaches the others; the busy bit is gone afterwards.
TEST(DebugPrint, CallbackPrintsReachOtherOutputsOnly) {
    Seen seen;
    seen.reenter = "inner";
    Sink sink;
    debug_output_t ext = external(1, &seen);
    debug_output_t text = make_output(DEBUG_OUTPUT_TEXT, 2, reinterpret_cast<intptr_t>(&sink));
    debug_output_t other_type = make_output(7, 3, 0);
    ListScope list{&ext, &other_type, &text};
    for (int round = 1; round <= 2; ++round) {
        sink.bytes.clear();
        debug_print(nullptr, 0, 1, "f", 1, "g", "outer");
        EXPECT_EQ(seen.calls, round);
        EXPECT_EQ(seen.message, "outer");
        size_t inner = sink.bytes.find("inner\n"), outer = sink.bytes.find("outer\n");
        EXPECT_NE(inner, std::string::npos);
        EXPECT_NE(outer, std::string::npos);
        EXPECT_LT(inner, outer);
    }
}
