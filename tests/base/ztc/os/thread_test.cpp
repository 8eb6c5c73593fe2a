// Thread identity and exit hooks under the raw, prefork and demand threading types.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/ztc/debug/debug.h"
#include "base/ztc/os/thread.h"
#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
std::vector<intptr_t> ran; // hooks append their data; read after the thread is joined

int record_hook(void *data) {
    ran.push_back(reinterpret_cast<intptr_t>(data));
    return 7;
}

error_code_t register_three() {
    error_code_t rc = ERROR_SUCCESS;
    for (intptr_t id = 1; id <= 3 && rc == ERROR_SUCCESS; ++id)
        rc = zt_thread_atexit(record_hook, reinterpret_cast<void *>(id));
    return rc;
}

// Switches to a table threading type with a test-only table of 100 entries.
class TableThreads : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        debug_thread_nums_enabled = 1;
        zt_thread_type = GetParam();
        zt_thread_table = table;
        zt_thread_count = DEBUG_THREAD_NUM_COUNT;
        ran.clear();
    }
    void TearDown() override {
        zt_thread_type = ZT_THREAD_TYPE_RAW;
        zt_thread_table = nullptr;
        zt_thread_count = 0;
        debug_thread_nums_enabled = 0;
        debug_max_runtime_level = 3;
    }
    zt_thread_entry table[DEBUG_THREAD_NUM_COUNT] = {};
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, reinterpret_cast<intptr_t>(&sink), 4);
    ListScope list{&out};
};
} // namespace

TEST(RawThreads, HooksRunNewestFirstOnceAndIdentityIsPthreadSelf) {
    ran.clear();
    bool same = true, foreign = true;
    std::thread t([&] {
        same = zt_thread_self() == static_cast<uint64_t>(pthread_self());
        foreign = zt_thread_is_foreign();
        EXPECT_EQ(register_three(), ERROR_SUCCESS);
        EXPECT_EQ(zt_thread_raw_atexit(nullptr, nullptr), ERROR_INVALID_ARGUMENT);
    });
    t.join();
    EXPECT_TRUE(same);
    EXPECT_TRUE(foreign);
    EXPECT_EQ(ran, (std::vector<intptr_t>{3, 2, 1}));
    EXPECT_EQ(zt_thread_self(), static_cast<uint64_t>(pthread_self()));
    EXPECT_TRUE(zt_thread_is_foreign());
}

// Hooks go into the entry of the thread's number; an entry held by another pthread is
// reported, yet the number stands.
TEST_P(TableThreads, ZtThreadLinksHooksIntoItsEntry) {
    for (bool own_entry : {true, false}) {
        pthread_t main_thread = pthread_self();
        int num = -2;
        uint64_t self = 0;
        bool foreign = true;
        ran.clear();
        sink.bytes.clear();
        std::thread([&] {
            num = debug_get_thread_num();
            table[num].thread = own_entry ? pthread_self() : main_thread;
            self = zt_thread_self();
            foreign = zt_thread_is_foreign();
            EXPECT_EQ(register_three(), ERROR_SUCCESS);
        }).join();
        EXPECT_EQ(num, 99);
        EXPECT_EQ(self, 99u);
        EXPECT_FALSE(foreign);
        EXPECT_TRUE(ran.empty()); // the facility runs a table thread's hooks
        zt_thread_run_hooks(std::exchange(table[num].hooks, nullptr));
        EXPECT_EQ(ran, (std::vector<intptr_t>{3, 2, 1}));
        char report[128];
        snprintf(report, sizeof report, "  Thread 99 -> %lx != pthread_self() -> ",
                 static_cast<unsigned long>(main_thread));
        EXPECT_EQ(sink.bytes.find(report) != std::string::npos, !own_entry) << sink.bytes;
    }
}

TEST_P(TableThreads, OutsideTheTableIsRefusedAndReported) {
    const char *function = GetParam() == ZT_THREAD_TYPE_PREFORK ? "zt_thread_prefork_atexit:  555:"
                                                                : "zt_thread_demand_atexit:  897:";
    for (int level : {1, 2}) {
        sink.bytes.clear();
        debug_max_runtime_level = level;
        EXPECT_EQ(zt_thread_atexit(record_hook, nullptr), ERROR_INVALID_ARGUMENT);
        EXPECT_EQ(sink.bytes.find(std::string(function) + "  Called zt_thread_atexit() in "
                                                          "non-zt thread!\n") != std::string::npos,
                  level >= 2)
            << sink.bytes;
    }
    EXPECT_TRUE(zt_thread_is_foreign());
    debug_max_runtime_level = 4;
    EXPECT_EQ(zt_thread_self(), UINT64_MAX);
    EXPECT_NE(sink.bytes.find("Thread -1 -> invalid != pthread_self() -> "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(PreforkAndDemand, TableThreads,
                         ::testing::Values(ZT_THREAD_TYPE_PREFORK, ZT_THREAD_TYPE_DEMAND));

TEST(ThreadType, UnknownTypeRegistersNothing) {
    zt_thread_type = 3;
    EXPECT_EQ(zt_thread_atexit(record_hook, nullptr), ERROR_UNKNOWN);
    zt_thread_type = ZT_THREAD_TYPE_RAW;
}
