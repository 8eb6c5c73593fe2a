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

// The reading lies between two direct readings of the same clock, scaled to the rate.
TEST(MonotonicReading, ConvertsAtEachRate) {
    const int64_t saved = time_internal_clock_mhz;
    for (int64_t rate : {int64_t{1000}, int64_t{1}, int64_t{27}, int64_t{2000}}) {
        SCOPED_TRACE(rate);
        time_internal_clock_mhz = rate;
        const int64_t before = monotonic_ns();
        const zt_time_t reading = time_internal_read_monotonic();
        const int64_t after = monotonic_ns();
        // ticks = rate * ns / 1000, up to one tick of truncation.
        const __int128 low = __int128{before} * rate / 1000 - 1;
        const __int128 high = __int128{after} * rate / 1000 + 1;
        EXPECT_GE(__int128{reading}, low);
        EXPECT_LE(__int128{reading}, high);
    }
    time_internal_clock_mhz = saved;
}

TEST(MonotonicReading, IsTheDefaultSource) {
    EXPECT_EQ(time_internal_clock_source, &time_internal_read_monotonic);
    EXPECT_EQ(time_internal_clock_mhz, 1000);
    const zt_time_t a = zt_time_now();
    const zt_time_t b = zt_time_now();
    EXPECT_GT(a, 0);
    EXPECT_GE(b, a);
}

TEST(ClockSource, NowGoesThroughThePointer) {
    for (zt_time_t now : {zt_time_t{0}, zt_time_t{-5}, zt_time_t{123456789012345}, INT64_MIN}) {
        ztc_test::fixed_clock clock(1000, now);
        EXPECT_EQ(zt_time_now(), now);
    }
}

struct debug_time_case {
    int64_t rate;
    zt_time_t now;
    long sec;
    long usec;
};

// Seconds and microseconds both truncate toward zero, so negative times give non-positive fields.
constexpr debug_time_case debug_time_cases[] = {
    {1000, 1234567890123, 1234, 567890},
    {1000, 999, 0, 0},
    {1000, 1000000000, 1, 0},
    {1, 1234567890, 1234, 567890},
    {27, 27 * int64_t{3000007}, 3, 7},
    {1000, -1500000, 0, -1500},
    {1000, -2000001000, -2, -1},
    {1000, INT64_MAX, 9223372036, 854775},
    {1, INT64_MIN, -9223372036854, -775808},
};

TEST(DebugTime, SplitsMicrosecondsOfNow) {
    for (const auto &c : debug_time_cases) {
        SCOPED_TRACE(c.now);
        ztc_test::fixed_clock clock(c.rate, c.now);
        timeval tv{-7, -7};
        time_internal_debug_time(&tv);
        EXPECT_EQ(tv.tv_sec, c.sec);
        EXPECT_EQ(tv.tv_usec, c.usec);
    }
}

TEST(DebugTime, NonPositiveRateGivesZeroNotACrash) {
    for (int64_t rate : {int64_t{0}, int64_t{-1}}) {
        ztc_test::fixed_clock clock(rate, 123456789);
        timeval tv{-7, -7};
        time_internal_debug_time(&tv);
        EXPECT_EQ(tv.tv_sec, 0);
        EXPECT_EQ(tv.tv_usec, 0);
    }
}

} // namespace
