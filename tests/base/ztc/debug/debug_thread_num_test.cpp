// Debug thread numbers with allocation on: from 99 down, reuse, and every number taken.
#include <gtest/gtest.h>

#include <latch>
#include <list>
#include <optional>
#include <thread>

#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
// A thread that takes its number and keeps it until destroyed.
class Holder {
  public:
    explicit Holder(int print_level = 0)
        : thread_([this, print_level] {
              if (print_level) debug_print(nullptr, 0, print_level, "f", 1, "g", "x");
              num_ = debug_get_thread_num();
              taken_.count_down();
              release_.wait();
          }) {
        taken_.wait();
    }
    ~Holder() {
        release_.count_down();
        thread_.join();
    }
    int num() const { return num_; }

  private:
    std::latch taken_{1}, release_{1};
    int num_ = -2;
    std::thread thread_;
};

class ThreadNums : public ::testing::Test {
  protected:
    void SetUp() override { debug_thread_nums_enabled = 1; }
    void TearDown() override {
        debug_thread_nums_enabled = 0;
        debug_max_runtime_level = 3;
    }
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, reinterpret_cast<intptr_t>(&sink), 4);
    ListScope list{&out};
};
} // namespace

TEST_F(ThreadNums, FromTheTopFreedNumbersFirst) {
    debug_max_runtime_level = 4;
    std::optional<Holder> a(std::in_place), b(std::in_place), c(std::in_place);
    EXPECT_EQ(a->num() * 10000 + b->num() * 100 + c->num(), 999897);
    b.reset();
    EXPECT_EQ(Holder().num(), 98);
    EXPECT_EQ(debug_get_thread_num(), -1); // the initial thread never takes one
    EXPECT_NE(sink.bytes.find("debug_get_thread_num:  128:  Thread num allocated: 97.\n"),
              std::string::npos);
}

// A print that no output wants takes no number and reads no clock.
TEST_F(ThreadNums, UnwantedPrintTakesNoNumber) {
    FixedTime clock;
    std::optional<Holder> quiet(std::in_place, 9);
    EXPECT_EQ(time_calls, 0);
    EXPECT_EQ(quiet->num(), 99);
    quiet.reset();
    Holder wanted(1);
    EXPECT_EQ(time_calls, 1);
    EXPECT_EQ(wanted.num(), 99);
}

// With all 100 taken a thread shares 99, reports it, and does not wait on itself.
TEST_F(ThreadNums, AllTakenSharesTheTopNumber) {
    std::list<Holder> holders;
    for (int i = 0; i < DEBUG_THREAD_NUM_COUNT; ++i) holders.emplace_back();
    EXPECT_EQ(holders.back().num(), 0);
    EXPECT_EQ(sink.bytes.find("allocation failed"), std::string::npos);
    EXPECT_EQ(Holder().num(), 99);
    EXPECT_NE(sink.bytes.find("  BASE1    "), std::string::npos) << sink.bytes;
    EXPECT_NE(sink.bytes.find("debug_get_thread_num:  119:  Thread num allocation failed!\n"),
              std::string::npos);
    holders.clear();
    EXPECT_EQ(Holder().num(), 99);
}
