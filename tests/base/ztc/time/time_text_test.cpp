#include <random>
#include <string>

#include <gtest/gtest.h>

#include "base/ztc/time/time.h"
#include "tests/base/ztc/guarded_buffer.hpp"
#include "tests/base/ztc/time/fixed_clock.hpp"

namespace {

using ztc_test::expect_text;
using ztc_test::result_rule;
constexpr auto in_buffer = result_rule::length_in_buffer;

struct unit_case {
    int64_t rate;
    zt_time_t ticks;
    const char *us, *ms, *secs, *mins;
};

const unit_case unit_cases[] = {
    {1000, 999, "0us", "0ms", "0s", "0mins"},
    {1000, 1000, "1us", "0ms", "0s", "0mins"},
    {1000, 999999, "999us", "0ms", "0s", "0mins"},
    {1000, 1000000, "1000us", "1ms", "0s", "0mins"},
    {1000, -1500000, "-1500us", "-1ms", "0s", "0mins"},
    {1000, 60000000000, "60000000us", "60000ms", "60s", "1mins"},
    {1000, 59999999999, "59999999us", "59999ms", "59s", "0mins"},
    {1000, 123456789012345, "123456789012us", "123456789ms", "123456s", "2057mins"},
    {1, 42, "42us", "0ms", "0s", "0mins"},
    {27, 28, "1us", "0ms", "0s", "0mins"},
    {27, 26, "0us", "0ms", "0s", "0mins"},
    {1000, INT64_MIN, "-9223372036854775us", "-9223372036854ms", "-9223372036s", "-153722867mins"},
    {1, INT64_MIN, "-9223372036854775808us", "-9223372036854775ms", "-9223372036854s",
     "-153722867280mins"},
    // Unit times rate past 64 bits: the quotient is still exact.
    {INT64_MAX, INT64_MIN, "-1us", "0ms", "0s", "0mins"},
    {INT64_MAX / 1000, INT64_MAX, "1000us", "1ms", "0s", "0mins"},
};

TEST(DurationUnits, TruncatedCountOfEachUnit) {
    for (const auto &c : unit_cases) {
        SCOPED_TRACE(testing::Message() << c.ticks << " ticks at rate " << c.rate);
        ztc_test::fixed_clock clock(c.rate);
        expect_text("zt_dur_us", zt_printf_cb_zt_dur_us, &c.ticks, c.us);
        expect_text("zt_dur_ms", zt_printf_cb_zt_dur_ms, &c.ticks, c.ms);
        expect_text("zt_dur_secs", zt_printf_cb_zt_dur_secs, &c.ticks, c.secs);
        expect_text("zt_dur_mins", zt_printf_cb_zt_dur_mins, &c.ticks, c.mins);
    }
}

struct text_case {
    int64_t rate;
    zt_time_t ticks;
    const char *compact, *worded;
};

// The worded column is the duration's text; the time point's follows from it.
const text_case text_cases[] = {
    {1000, 0, "0ns", "zero"},
    {1000, 1, "1ns", "1ns"},
    {1000, 999, "999ns", "999ns"},
    {1000, 1000, "1.00us", "1us"},
    {1000, 1234, "1.23us", "1.2us"},
    {1000, 2345, "2.34us", "2.3us"},
    {1000, 9999, "9.99us", "9.9us"},
    {1000, 12345, "12.3us", "12us"},
    {1000, 123456, "123us", "123us"},
    {1000, 1000000, "1.00ms", "1ms"},
    {1000, 1234567, "1.23ms", "1.2ms"},
    {1000, 12345678, "12.3ms", "12ms"},
    {1000, 123456789, "123ms", "123ms"},
    {1000, 1000000000, "1.00s", "1 second"},
    {1000, 1001000000, "1.00s", "1 second"},
    {1000, 1010000000, "1.01s", "1.01 seconds"},
    {1000, 1050000000, "1.05s", "1.05 seconds"},
    {1000, 1105000000, "1.10s", "1.1 seconds"},
    {1000, 1234567890, "1.23s", "1.23 seconds"},
    {1000, 1250000000, "1.25s", "1.25 seconds"},
    {1000, 9990000000, "9.99s", "9.99 seconds"},
    {1000, 9999999999, "9.99s", "9.99 seconds"},
    {1000, 10099000000, "10.0s", "10 seconds"},
    {1000, 10100000000, "10.1s", "10.1 seconds"},
    {1000, 59999999999, "59.9s", "59.9 seconds"},
    {1000, 60000000000, "1:00.0", "1 minute"},
    {1000, 60500000000, "1:00.5", "1 minute"},
    {1000, 61234567890, "1:01.2", "1 minute and 1 second"},
    {1000, 125000000000, "2:05.0", "2 minutes and 5 seconds"},
    {1000, 3600000000000, "1:00:00", "1 hour"},
    {1000, 3630000000000, "1:00:30", "1 hour"},
    {1000, 3661000000000, "1:01:01", "1 hour and 1 minute"},
    {1000, 7320000000000, "2:02:00", "2 hours and 2 minutes"},
    {1000, 88200000000000, "1d 00:30", "1 day"},
    {1000, 90061000000000, "1d 01:01", "1 day and 1 hour"},
    {1000, 259140000000000, "2d 23:59", "2 days and 23 hours"},
    {1000, 604800000000000, "7d 00:00", "1 week"},
    {1000, 691200000000000, "8d 00:00", "1 week and 1 day"},
    {1000, 6652800000000000, "77d 00:00", "11 weeks"},
    {1000, 31536000000000000, "365d 00:00", "1 year"},
    {1000, 31795200000000000, "368d 00:00", "1 year"},
    {1000, 32400000000000000, "375d 00:00", "1 year and 1 week"},
    {1000, 64281600000000000, "744d 00:00", "2 years and 2 weeks"},
    {1000, 315964800000000000, "3657d 00:00", "10 years"},
    {1000, INT64_MAX, "106751d 23:47", "292 years"},
    {1000, -1234567890, "-1.23s", "minus 1.23 seconds"},
    {1000, INT64_MIN, "-106751d 23:47", "minus 292 years"},
    {27, 28, "1.03us", "1us"},
    {2000, 1, "0ns", "0ns"},
    {1, 1234, "1.23ms", "1.2ms"},
    {INT64_MAX, INT64_MAX, "1.00us", "1us"},
    {INT64_MAX, INT64_MAX - 1, "999ns", "999ns"},
};

TEST(TimeText, CompactAndWordedAtEachRate) {
    for (const auto &c : text_cases) {
        SCOPED_TRACE(testing::Message() << c.ticks << " ticks at rate " << c.rate);
        ztc_test::fixed_clock clock(c.rate);
        expect_text("zt_dur", zt_printf_cb_zt_dur, &c.ticks, c.compact);
        expect_text("zt_time", zt_printf_cb_zt_time, &c.ticks, c.compact);
        expect_text("zt_dur_pretty", zt_printf_cb_zt_dur_pretty, &c.ticks, c.worded);
        const std::string worded = c.worded;
        const std::string time_point = c.ticks == 0 ? "at the beginning of time"
                                       : c.ticks > 0
                                           ? worded
                                           : worded.substr(6) + " before the beginning of time";
        expect_text("zt_time_pretty", zt_printf_cb_zt_time_pretty, &c.ticks, time_point);
    }
}

struct distance_case {
    zt_time_t now, t;
    const char *compact, *worded;
};

const distance_case distance_cases[] = {
    {1000000000000, 1000000000000 - 1500000000, "1.50s ago", "1.5 seconds ago"},
    {1000000000000, 1000000000000 + 1500000000, "1.50s hence", "1.5 seconds hence"},
    {1000000000000, 1000000000000, "now", "now"},
    {0, -3661000000000, "1:01:01 ago", "1 hour and 1 minute ago"},
    {-5, 5, "10ns hence", "10ns hence"},
    // The whole range apart: the unsigned distance is still exact.
    {INT64_MAX, INT64_MIN, "213503d 23:34 ago", "584 years ago"},
    {INT64_MIN, INT64_MAX, "213503d 23:34 hence", "584 years hence"},
};

TEST(TimeText, DistanceFromAFixedNow) {
    for (const auto &c : distance_cases) {
        SCOPED_TRACE(testing::Message() << c.t << " at now " << c.now);
        ztc_test::fixed_clock clock(1000, c.now);
        // The suffix is cut, not dropped ("1.50s a" in 8 bytes), and the result is the length
        // of what is left.
        expect_text("zt_reltime", zt_printf_cb_zt_reltime, &c.t, c.compact, in_buffer);
        expect_text("zt_reltime_pretty", zt_printf_cb_zt_reltime_pretty, &c.t, c.worded, in_buffer);
    }
    // With no room at all, "now" is not even read.
    ztc_test::fixed_clock clock(1000);
    const zt_time_t t = 5;
    EXPECT_EQ(ztc_test::call_guarded(zt_printf_cb_zt_reltime, &t, 0).result, 0);
    EXPECT_EQ(ztc_test::call_guarded(zt_printf_cb_zt_reltime_pretty, &t, 0).result, 0);
    EXPECT_EQ(ztc_test::clock_reads, 0);
}

struct named_formatter {
    const char *name;
    zt_printf_cb cb;
    result_rule rule; // the distance texts return the length left in the buffer
};

const named_formatter time_formatters[] = {
    {"zt_dur_us", zt_printf_cb_zt_dur_us, result_rule::full_length},
    {"zt_dur_ms", zt_printf_cb_zt_dur_ms, result_rule::full_length},
    {"zt_dur_secs", zt_printf_cb_zt_dur_secs, result_rule::full_length},
    {"zt_dur_mins", zt_printf_cb_zt_dur_mins, result_rule::full_length},
    {"zt_dur", zt_printf_cb_zt_dur, result_rule::full_length},
    {"zt_time", zt_printf_cb_zt_time, result_rule::full_length},
    {"zt_reltime", zt_printf_cb_zt_reltime, in_buffer},
    {"zt_dur_pretty", zt_printf_cb_zt_dur_pretty, result_rule::full_length},
    {"zt_time_pretty", zt_printf_cb_zt_time_pretty, result_rule::full_length},
    {"zt_reltime_pretty", zt_printf_cb_zt_reltime_pretty, in_buffer},
};

// A null value is not read; a rate outside the clock's domain is named, not divided by.
TEST(TimeTextBounds, NullValueAndBadRate) {
    const zt_time_t t = 5;
    for (int64_t rate : {int64_t{0}, int64_t{-1000}}) {
        ztc_test::fixed_clock clock(rate);
        for (const auto &f : time_formatters) {
            expect_text(f.name, f.cb, nullptr, "(null)", f.rule);
            expect_text(f.name, f.cb, &t, "bad clock rate", f.rule);
        }
    }
}

// Random values, rates, clocks and sizes: never past the size, always terminated, the cut
// text a prefix of the full one, and the time point's compact text that of the duration.
TEST(TimeTextBounds, RandomValuesAtSeveralRates) {
    std::mt19937_64 rng(20240611);
    std::uniform_int_distribution<int64_t> any;
    std::uniform_int_distribution<size_t> sizes(0, 48);
    for (int64_t rate :
         {int64_t{1}, int64_t{27}, int64_t{1000}, int64_t{2000}, int64_t{1000000}, INT64_MAX}) {
        for (int i = 0; i < 400; ++i) {
            // Mix full-range values with small ones so every row of the tables is reached.
            const int shift = static_cast<int>(rng() % 64);
            const zt_time_t t = i % 2 ? any(rng) : any(rng) >> shift;
            ztc_test::fixed_clock clock(rate, any(rng) >> (rng() % 64));
            const size_t size = sizes(rng);
            SCOPED_TRACE(testing::Message() << t << " at rate " << rate << " size " << size);
            for (const auto &f : time_formatters) {
                const std::string full = ztc_test::full_text(f.cb, &t);
                ASSERT_TRUE(ztc_test::cuts_at(f.cb, &t, size, full, f.rule)) << f.name;
            }
            EXPECT_EQ(ztc_test::full_text(zt_printf_cb_zt_time, &t),
                      ztc_test::full_text(zt_printf_cb_zt_dur, &t));
        }
    }
}

} // namespace
