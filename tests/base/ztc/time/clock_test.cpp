#include <algorithm>
#include <ctime>

#include <gtest/gtest.h>

#include "base/ztc/time/time.h"
#include "tests/base/ztc/time/fixed_clock.hpp"

namespace {

int64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

TEST(Clock, StartValuesReadTheMonotonicClock) {
    EXPECT_EQ(time_internal_clock_source, &time_internal_read_monotonic);
    EXPECT_EQ(time_internal_clock_mhz, 1000);
    const zt_time_t a = zt_time_now();
    EXPECT_GT(a, 0);
    EXPECT_GE(zt_time_now(), a);
}

// The reading lies between two direct readings of the same clock, scaled to the rate; the two
// largest rates put it past 64 bits, where it stays at the end of the range.
TEST(Clock, MonotonicReadingAtEachRate) {
    const int64_t saved = time_internal_clock_mhz;
    for (int64_t rate :
         {int64_t{1000}, int64_t{1}, int64_t{27}, int64_t{2000}, INT64_MAX / 1000, INT64_MAX}) {
        SCOPED_TRACE(rate);
        time_internal_clock_mhz = rate;
        const int64_t before = monotonic_ns();
        const zt_time_t reading = time_internal_read_monotonic();
        const int64_t after = monotonic_ns();
        // ticks = rate * ns / 1000, up to one tick of truncation.
        EXPECT_GE(__int128{reading},
                  std::min<__int128>(__int128{before} * rate / 1000 - 1, INT64_MAX));
        EXPECT_LE(__int128{reading},
                  std::min<__int128>(__int128{after} * rate / 1000 + 1, INT64_MAX));
    }
    time_internal_clock_mhz = saved;
}

struct debug_time_case {
    int64_t rate;
    zt_time_t now;
    long sec, usec;
};

// Both fields truncate toward zero, so negative times give non-positive fields; a rate outside
// the clock's domain gives zero rather than a division by it.
constexpr debug_time_case debug_time_cases[] = {
    {1000, 1234567890123, 1234, 567890},
    {1000, 999, 0, 0},
    {1, 1234567890, 1234, 567890},
    {27, 27 * int64_t{3000007}, 3, 7},
    {1000, -1500000, 0, -1500},
    {1000, -2000001000, -2, -1},
    {1000, INT64_MAX, 9223372036, 854775},
    {1, INT64_MIN, -9223372036854, -775808},
    {0, 123456789, 0, 0},
    {-1, 123456789, 0, 0},
};

TEST(Clock, DebugTimeSplitsMicrosecondsOfNow) {
    for (const auto &c : debug_time_cases) {
        SCOPED_TRACE(testing::Message() << c.now << " at rate " << c.rate);
        ztc_test::fixed_clock clock(c.rate, c.now);
        timeval tv{-7, -7};
        time_internal_debug_time(&tv);
        EXPECT_EQ(tv.tv_sec, c.sec);
        EXPECT_EQ(tv.tv_usec, c.usec);
    }
}

} // namespace
