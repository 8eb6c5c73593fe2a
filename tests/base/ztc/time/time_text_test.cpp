#include <string>

#include <gtest/gtest.h>

#include "base/ztc/time/time.h"
#include "tests/base/ztc/guarded_buffer.hpp"
#include "tests/base/ztc/time/fixed_clock.hpp"

namespace {

struct text_case {
    int64_t rate;
    zt_time_t ticks;
    const char *text;
};

const text_case compact_cases[] = {
    {1000, 0, "0ns"},
    {1000, 999, "999ns"},
    {1000, 1234, "1.23us"},
    {1000, 12345, "12.3us"},
    {1000, 123456, "123us"},
    {1000, 1005000, "1.00ms"},
    {1000, 1234567, "1.23ms"},
    {1000, 12345678, "12.3ms"},
    {1000, 123456789, "123ms"},
    {1000, 1050000000, "1.05s"},
    {1000, 1234567890, "1.23s"},
    {1000, 9999999999, "9.99s"},
    {1000, 10050000000, "10.0s"},
    {1000, 59999999999, "59.9s"},
    {1000, 61234567890, "1:01.2"},
    {1000, 3661000000000, "1:01:01"},
    {1000, 90061000000000, "1d 01:01"},
    {1000, 259140000000000, "2d 23:59"},
    {1000, 31536000000000000, "365d 00:00"},
    {1000, -1234567890, "-1.23s"},
    {1000, INT64_MAX, "106751d 23:47"},
    {1000, INT64_MIN, "-106751d 23:47"},
    {27, 28, "1.03us"},
    {2000, 1, "0ns"},
    {1, 1234, "1.23ms"},
    {1, -1, "-1.00us"},
    {INT64_MAX, INT64_MAX, "1.00us"},
    {INT64_MAX, INT64_MAX - 1, "999ns"},
    {0, 1, "bad clock rate"},
};

const text_case worded_cases[] = {
    {1000, 1, "1ns"},
    {1000, 1000, "1us"},
    {1000, 1234, "1.2us"},
    {1000, 2345, "2.3us"},
    {1000, 9999, "9.9us"},
    {1000, 12345, "12us"},
    {1000, 1000000, "1ms"},
    {1000, 1234567, "1.2ms"},
    {1000, 12345678, "12ms"},
    {1000, 1000000000, "1 second"},
    {1000, 1001000000, "1 second"},
    {1000, 1010000000, "1.01 seconds"},
    {1000, 1105000000, "1.1 seconds"},
    {1000, 1109000000, "1.1 seconds"},
    {1000, 1250000000, "1.25 seconds"},
    {1000, 9990000000, "9.99 seconds"},
    {1000, 10099000000, "10 seconds"},
    {1000, 10100000000, "10.1 seconds"},
    {1000, 60000000000, "1 minute"},
    {1000, 60500000000, "1 minute"},
    {1000, 61234567890, "1 minute and 1 second"},
    {1000, 125000000000, "2 minutes and 5 seconds"},
    {1000, 3600000000000, "1 hour"},
    {1000, 3630000000000, "1 hour"},
    {1000, 7320000000000, "2 hours and 2 minutes"},
    {1000, 88200000000000, "1 day"},
    {1000, 259140000000000, "2 days and 23 hours"},
    {1000, 604800000000000, "1 week"},
    {1000, 691200000000000, "1 week and 1 day"},
    {1000, 6652800000000000, "11 weeks"},
    {1000, 31795200000000000, "1 year"},
    {1000, 32400000000000000, "1 year and 1 week"},
    {1000, 64281600000000000, "2 years and 2 weeks"},
    {1000, 315964800000000000, "10 years"},
    {1000, INT64_MAX, "292 years"},
    {27, 28, "1us"},
    {2000, 1, "0ns"},
    {INT64_MAX, INT64_MAX - 1, "999ns"},
    {0, 1, "bad clock rate"},
};

TEST(CompactText, TableAtEachRate) {
    for (const auto &c : compact_cases) {
        SCOPED_TRACE(testing::Message() << c.ticks << " ticks at rate " << c.rate);
        ztc_test::fixed_clock clock(c.rate);
        ztc_test::expect_text("zt_dur", zt_printf_cb_zt_dur, &c.ticks, c.text);
        ztc_test::expect_text("zt_time", zt_printf_cb_zt_time, &c.ticks, c.text);
    }
}

TEST(WordedText, TableAtEachRate) {
    for (const auto &c : worded_cases) {
        SCOPED_TRACE(testing::Message() << c.ticks << " ticks at rate " << c.rate);
        ztc_test::fixed_clock clock(c.rate);
        ztc_test::expect_text("zt_dur_pretty", zt_printf_cb_zt_dur_pretty, &c.ticks, c.text);
        ztc_test::expect_text("zt_time_pretty", zt_printf_cb_zt_time_pretty, &c.ticks, c.text);
    }
}

struct signed_case {
    zt_time_t ticks;
    const char *duration, *time_point;
};

TEST(WordedText, ZeroAndNegativeDifferForDurationsAndTimePoints) {
    const signed_case cases[] = {
        {0, "zero", "at the beginning of time"},
        {-1234567890, "minus 1.23 seconds", "1.23 seconds before the beginning of time"},
        {-60000000000, "minus 1 minute", "1 minute before the beginning of time"},
        {INT64_MIN, "minus 292 years", "292 years before the beginning of time"},
    };
    ztc_test::fixed_clock clock(1000);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ticks);
        ztc_test::expect_text("zt_dur_pretty", zt_printf_cb_zt_dur_pretty, &c.ticks, c.duration);
        ztc_test::expect_text("zt_time_pretty", zt_printf_cb_zt_time_pretty, &c.ticks,
                              c.time_point);
    }
}

struct distance_case {
    zt_time_t now, t;
    const char *compact, *worded;
};

TEST(DistanceFromNow, AgoHenceAndNow) {
    const distance_case cases[] = {
        {1000000000000, 1000000000000 - 1500000000, "1.50s ago", "1.5 seconds ago"},
        {1000000000000, 1000000000000 + 1500000000, "1.50s hence", "1.5 seconds hence"},
        {1000000000000, 1000000000000, "now", "now"},
        {0, -3661000000000, "1:01:01 ago", "1 hour and 1 minute ago"},
        {-5, 5, "10ns hence", "10ns hence"},
        // The whole range apart: the unsigned distance is still exact.
        {INT64_MAX, INT64_MIN, "213503d 23:34 ago", "584 years ago"},
        {INT64_MIN, INT64_MAX, "213503d 23:34 hence", "584 years hence"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.t << " at now " << c.now);
        ztc_test::fixed_clock clock(1000, c.now);
        const auto compact = ztc_test::call_guarded(zt_printf_cb_zt_reltime, &c.t, 64);
        const auto worded = ztc_test::call_guarded(zt_printf_cb_zt_reltime_pretty, &c.t, 64);
        EXPECT_EQ(compact.text, c.compact);
        EXPECT_EQ(worded.text, c.worded);
        EXPECT_EQ(ztc_test::by_name("zt_reltime", &c.t), c.compact);
        EXPECT_EQ(ztc_test::by_name("zt_reltime_pretty", &c.t), c.worded);
        EXPECT_EQ(compact.result, static_cast<int>(compact.text.size()));
        EXPECT_EQ(worded.result, static_cast<int>(worded.text.size()));
    }
}

TEST(DistanceFromNow, SuffixIsCutNotDropped) {
    ztc_test::fixed_clock clock(1000, 1000000000000);
    const zt_time_t t = 1000000000000 - 1500000000;
    const struct {
        size_t size;
        const char *text;
    } cases[] = {{10, "1.50s ago"}, {9, "1.50s ag"}, {8, "1.50s a"}, {7, "1.50s "},
                 {6, "1.50s"},      {3, "1."},       {1, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const auto out = ztc_test::call_guarded(zt_printf_cb_zt_reltime, &t, c.size);
        EXPECT_TRUE(out.fenced);
        EXPECT_EQ(out.text, c.text);
        EXPECT_EQ(out.result, static_cast<int>(out.text.size()));
    }
    const zt_time_t before_origin = -1234567890;
    EXPECT_EQ(ztc_test::call_guarded(zt_printf_cb_zt_time_pretty, &before_origin, 20).text,
              "1.23 seconds before");
}

TEST(DistanceFromNow, SizeZeroDoesNotReadTheClock) {
    ztc_test::fixed_clock clock(1000, 7);
    static int reads;
    reads = 0;
    time_internal_clock_source = [] {
        ++reads;
        return zt_time_t{7};
    };
    const zt_time_t t = 0;
    EXPECT_EQ(ztc_test::call_guarded(zt_printf_cb_zt_reltime, &t, 0).result, 0);
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(ztc_test::call_guarded(zt_printf_cb_zt_reltime_pretty, &t, 16).text, "7ns ago");
    EXPECT_EQ(reads, 1);
}

} // namespace
