// The debug print: filtering, time texts, errno and re-entry from callbacks.
#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>

#include <string>
#include <thread>
#include <tuple>

#include "base/ztc/os/printf.h"
#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
// What an external output received last, as one text; it may then set errno or print.
struct Seen {
    int calls = 0, set_errno = 0;
    const char *reenter = nullptr;
    std::string fields, message;
};

void seen_cb(intptr_t user, int num, const char *name, const struct timeval *tv,
             const char *time_text, int module, int level, const char *file, int line,
             const char *function, const char *message) {
    auto *s = reinterpret_cast<Seen *>(user);
    char buf[256];
    snprintf(buf, sizeof buf, "%d [%s] %ld.%ld [%s] %d %d %s:%d %s", num, name,
             static_cast<long>(tv->tv_sec), static_cast<long>(tv->tv_usec), time_text, module,
             level, file, line, function);
    *s = Seen{s->calls + 1, s->set_errno, s->reenter, buf, message};
    if (s->reenter) debug_print(nullptr, 0, 1, "f", 1, "g", "%s", s->reenter);
    if (s->set_errno) errno = s->set_errno;
}

debug_output_t external(Seen *seen) {
    debug_output_t o = make_output(DEBUG_OUTPUT_EXTERNAL, 1, nullptr);
    o.u.external = {seen_cb, reinterpret_cast<intptr_t>(seen)};
    return o;
}

int self_writes = 0;
int write_and_print(intptr_t, const void *, size_t n) {
    ++self_writes;
    debug_print(nullptr, 0, 1, "f", 1, "g", "inner");
    return static_cast<int>(n);
}
} // namespace

// The line reaches file descriptor 2 itself.
TEST(DebugPrint, StandardErrorLineMatchesTheExample) {
    FixedTime clock;
    int fds[2], saved = dup(2);
    ASSERT_EQ(pipe(fds), 0);
    dup2(fds[1], 2);
    debug_print(nullptr, 49, 1, "base/ztc/os/printf", 227, "zt_vsprintf", "msg %d", 7);
    dup2(saved, 2);
    close(saved);
    close(fds[1]);
    char buf[512];
    ssize_t n = read(fds[0], buf, sizeof buf);
    close(fds[0]);
    EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "-1:000000005.000042" + std::string(9, ' ') +
                                                   "TAG1" + std::string(25, ' ') +
                                                   "zt_vsprintf:  227:  msg 7\n");
}

// A thread name that fills its whole entry, with no NUL, is read no further.
TEST(DebugPrint, ThreadNameFillingItsEntry) {
    std::thread([] {
        const int num = debug_get_thread_num();
        ASSERT_GE(num, 0);
        ASSERT_LT(num + 1, DEBUG_THREAD_NUM_COUNT);
        const std::string full(DEBUG_THREAD_NAME_SIZE, 'n');
        memcpy(debug_thread_names[num], full.data(), DEBUG_THREAD_NAME_SIZE);
        strcpy(debug_thread_names[num + 1], "NEXT");
        Sink sink;
        debug_output_t text = make_output(DEBUG_OUTPUT_TEXT, 1, &sink);
        Seen seen;
        debug_output_t ext = external(&seen);
        debug_print(&text, 0, 1, "f", 1, "g", "m");
        debug_print(&ext, 0, 1, "f", 1, "g", "m");
        EXPECT_TRUE(sink.bytes.ends_with(":  " + full + "m\n")) << sink.bytes;
        EXPECT_NE(seen.fields.find("[" + full + "]"), std::string::npos) << seen.fields;
        debug_thread_names[num][0] = '\0';
        debug_thread_names[num + 1][0] = '\0';
    }).join();
}

// The output's level for the module decides, not the callers' pre-test level; a module
// outside the table is wanted by no output. An unwanted print reads no clock.
TEST(DebugPrint, LevelAndModuleDecideDelivery) {
    const std::tuple<int, int, bool> cases[] = {
        {0, 3, true},   {0, 4, false},       {63, 1, true},      {-1, 1, false},
        {64, 1, false}, {INT_MIN, 1, false}, {1000000, 1, false}};
    Set<int> pretest(debug_max_runtime_level, 0);
    for (auto [module, level, delivered] : cases) {
        for (bool all : {true, false}) {
            FixedTime clock;
            Sink sink;
            debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, &sink);
            ListScope list{&out};
            debug_print(all ? nullptr : &out, module, level, "f", 1, "g", "x");
            EXPECT_EQ(!sink.bytes.empty(), delivered) << module << " " << level;
            EXPECT_EQ(time_calls, delivered ? 1 : 0) << module << " " << level;
            EXPECT_EQ(debug_level_enabled(all ? nullptr : &out, module, level), delivered);
        }
    }
    // The walk of the list: an output further down that wants the print, and an empty list.
    FixedTime clock;
    Sink quiet, wanting;
    debug_output_t first = make_output(DEBUG_OUTPUT_TEXT, 1, &quiet),
                   second = make_output(DEBUG_OUTPUT_TEXT, 2, &wanting);
    first.levels[5] = 1;
    second.levels[5] = 2;
    {
        ListScope list{&first, &second};
        debug_print(nullptr, 5, 2, "f", 1, "g", "x");
        EXPECT_TRUE(quiet.bytes.empty());
        EXPECT_FALSE(wanting.bytes.empty());
    }
    ListScope empty{};
    debug_print(nullptr, 5, 1, "f", 1, "g", "x");
    EXPECT_EQ(time_calls, 1);
}

// The time value and text, and every other field that an external output receives.
TEST(DebugPrint, TimeTextInBothForms) {
    const std::tuple<uint8_t, time_t, suseconds_t, const char *> cases[] = {
        {0, 1234567890, 999999, "1234567890.999999 [1234567890.999999]"},
        {1, 90061, 7, "90061.7 [1970-01-02 01:01:01.000007]"},
        {0, -1, 0, "0.0 [000000000.000000]"}}; // clock pointer cleared by the program
    static struct timeval now;
    for (auto [calendar, sec, usec, stamp] : cases) {
        now = {sec, usec};
        Set<TimeFn> clock(
            debug_get_time_function, sec < 0 ? nullptr : +[](struct timeval *tv) { *tv = now; });
        Set<uint8_t> form(debug_time_calendar, calendar);
        Seen seen;
        debug_output_t out = external(&seen);
        debug_print(&out, 2, 1, "base/x", 9, "fn", "m%d", 3);
        EXPECT_EQ(seen.fields, "-1 [] " + std::string(stamp) + " 2 1 base/x:9 fn");
        EXPECT_EQ(seen.message, "m3");
    }
}

// The clock form at the ends of both fields, as "%09lu.%06lu" prints them.
TEST(DebugPrint, ClockTimeTextAtTheEnds) {
    const struct timeval times[] = {
        {0, 0}, {999999999, 999999}, {1000000000, 1000000}, {LONG_MAX, 5}, {7, -1}, {-1, 123}};
    static struct timeval now;
    for (const struct timeval &t : times) {
        now = t;
        Set<TimeFn> clock(debug_get_time_function, [](struct timeval *tv) { *tv = now; });
        Seen seen;
        debug_output_t out = external(&seen);
        debug_print(&out, 2, 1, "base/x", 9, "fn", "m");
        char expected[64];
        snprintf(expected, sizeof expected, "[%09lu.%06lu]", static_cast<unsigned long>(t.tv_sec),
                 static_cast<unsigned long>(t.tv_usec));
        EXPECT_NE(seen.fields.find(expected), std::string::npos) << seen.fields;
    }
}

// Outputs are served in list order, each with the caller's errno for %m although the clock
// and an earlier callback change it. A callback (external, or a text output's write callback)
// that prints to all outputs re-enters the list lock, skips the output it serves and reaches
// the others; the next print is served again, so the busy bit was cleared.
TEST(DebugPrint, OutputsServedInTurnAndCallbacksPrinting) {
    Set<TimeFn> clock(debug_get_time_function, [](struct timeval *tv) {
        *tv = {};
        errno = EBADF;
    });
    char want[256];
    errno = ENOENT;
    zt_snprintf(want, sizeof want, "outer <%m>");
    for (int type : {DEBUG_OUTPUT_EXTERNAL, DEBUG_OUTPUT_TEXT}) {
        Seen seen;
        seen.set_errno = EACCES;
        seen.reenter = "inner";
        debug_output_t self = external(&seen);
        if (type == DEBUG_OUTPUT_TEXT) {
            self = make_output(DEBUG_OUTPUT_TEXT, 33, nullptr);
            self.u.text.write = write_and_print;
        }
        Sink sink;
        debug_output_t text = make_output(DEBUG_OUTPUT_TEXT, 2, &sink);
        debug_output_t unknown_type = make_output(7, 3, nullptr);
        ListScope list{&self, &unknown_type, &text};
        self_writes = 0;
        for (int round = 1; round <= 2; ++round) {
            sink.bytes.clear();
            errno = ENOENT;
            debug_print(nullptr, 0, 1, "f", 1, "g", "outer <%m>");
            EXPECT_EQ(seen.calls + self_writes, round) << type;
            EXPECT_EQ(seen.message, type == DEBUG_OUTPUT_EXTERNAL ? want : "");
            EXPECT_LT(sink.bytes.find("inner\n"), sink.bytes.find("outer")) << sink.bytes;
            EXPECT_TRUE(sink.bytes.ends_with(std::string(want) + "\n")) << sink.bytes;
        }
    }
}
