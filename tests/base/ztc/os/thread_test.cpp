// Thread identity and exit hooks under the raw, prefork and demand threading types.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/ztc/os/thread.h"
#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
std::vector<intptr_t> ran; // hooks append their data; read after the thread is joined

int record_hook(void *data) {
    ran.push_back(reinterpret_cast<intptr_t>(data));
    return 7;
}

void register_three() {
    for (intptr_t id = 1; id <= 3; ++id)
        EXPECT_EQ(zt_thread_atexit(record_hook, reinterpret_cast<void *>(id)), ERROR_SUCCESS);
}

// A line of module 1 ("BASE") on a text output, at the fixed clock.
template <class... Args>
std::string report(int num, int level, const char *function, int line, const char *fmt,
                   Args... args) {
    char text[256], buf[512];
    snprintf(text, sizeof text, fmt, args...);
    snprintf(buf, sizeof buf, kStderrFormat, num, "000000005.000042", "BASE", level, "", function,
             line, "", text);
    return buf;
}

// A threading type with a test-only table of 100 entries; reports go to a sink.
class ThreadTypes : public ::testing::TestWithParam<int> {
  protected:
    ThreadTypes() { ran.clear(); }
    Set<uint32_t> numbered{debug_thread_nums_enabled, 1};
    Set<int> type{zt_thread_type, GetParam()}, level{debug_max_runtime_level, 3};
    zt_thread_entry table[DEBUG_THREAD_NUM_COUNT] = {};
    Set<zt_thread_entry *> with_table{zt_thread_table, table};
    Set<int> count{zt_thread_count, DEBUG_THREAD_NUM_COUNT};
    FixedTime clock;
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, &sink, 4);
    ListScope list{&out};
};
class TableThreads : public ThreadTypes {};
} // namespace

// Hooks run newest first, each once: under the raw type when the thread ends, under the table
// types when the facility runs the list of the thread's entry. The raw identity is the pthread;
// a table thread's is its number, also when its entry holds another pthread (reported).
TEST_P(ThreadTypes, HooksAndIdentity) {
    const bool raw = GetParam() == ZT_THREAD_TYPE_RAW;
    debug_max_runtime_level = 1; // the lowest that lets the mismatch report through
    for (bool own_entry : {true, false}) {
        uint64_t self = 0;
        bool foreign = !raw;
        pthread_t worker{};
        ran.clear();
        sink.bytes.clear();
        std::thread([&] {
            ASSERT_EQ(debug_get_thread_num(), 99);
            worker = pthread_self();
            table[99].thread = own_entry ? worker : pthread_t{};
            self = zt_thread_self();
            foreign = zt_thread_is_foreign();
            register_three();
            EXPECT_EQ(zt_thread_atexit(nullptr, nullptr), ERROR_INVALID_ARGUMENT);
        }).join();
        EXPECT_EQ(self, raw ? static_cast<uint64_t>(worker) : 99u);
        EXPECT_EQ(foreign, raw);
        EXPECT_EQ(ran.empty(), !raw);
        zt_thread_run_hooks(std::exchange(table[99].hooks, nullptr));
        EXPECT_EQ(ran, (std::vector<intptr_t>{3, 2, 1}));
        std::string mismatch = report(99, 1, "zt_thread_self", 1456,
                                      "Thread 99 -> 0 != pthread_self() -> %lx?", worker);
        EXPECT_EQ(sink.bytes.find(mismatch) != std::string::npos, !raw && !own_entry) << sink.bytes;
    }
    EXPECT_EQ(zt_thread_self() == static_cast<uint64_t>(pthread_self()), raw);
}

// The initial thread (number -1) is outside the table: refused, reported from level 2 on;
// its identity is -1, with a note at level 4.
TEST_P(TableThreads, OutsideTheTableIsRefusedAndReported) {
    const bool prefork = GetParam() == ZT_THREAD_TYPE_PREFORK;
    const std::string refused =
        report(-1, 2, prefork ? "zt_thread_prefork_atexit" : "zt_thread_demand_atexit",
               prefork ? 555 : 897, "%s", "Called zt_thread_atexit() in non-zt thread!");
    for (int lvl : {1, 2}) {
        sink.bytes.clear();
        debug_max_runtime_level = lvl;
        EXPECT_EQ(zt_thread_atexit(record_hook, nullptr), ERROR_INVALID_ARGUMENT);
        EXPECT_EQ(sink.bytes, lvl == 2 ? refused : "");
    }
    EXPECT_TRUE(zt_thread_is_foreign());
    sink.bytes.clear();
    debug_max_runtime_level = 4;
    EXPECT_EQ(zt_thread_self(), UINT64_MAX);
    EXPECT_EQ(sink.bytes, report(-1, 4, "zt_thread_self", 1453,
                                 "Thread -1 -> invalid != pthread_self() -> %lx?", pthread_self()));
}

INSTANTIATE_TEST_SUITE_P(AllTypes, ThreadTypes,
                         ::testing::Values(ZT_THREAD_TYPE_RAW, ZT_THREAD_TYPE_PREFORK,
                                           ZT_THREAD_TYPE_DEMAND));
INSTANTIATE_TEST_SUITE_P(PreforkAndDemand, TableThreads,
                         ::testing::Values(ZT_THREAD_TYPE_PREFORK, ZT_THREAD_TYPE_DEMAND));

TEST(ThreadType, UnknownTypeRegistersNothing) {
    Set<int> type(zt_thread_type, 3);
    EXPECT_EQ(zt_thread_atexit(record_hook, nullptr), ERROR_UNKNOWN);
}
