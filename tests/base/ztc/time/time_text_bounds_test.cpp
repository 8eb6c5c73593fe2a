// Every time formatter keeps within its buffer for any value, rate and size.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "base/ztc/time/time.h"
#include "tests/base/ztc/guarded_buffer.hpp"
#include "tests/base/ztc/time/fixed_clock.hpp"

namespace {

using ztc_test::call_guarded;

struct named_formatter {
    const char *name;
    zt_printf_cb cb;
};

const named_formatter time_formatters[] = {
    {"zt_dur_us", zt_printf_cb_zt_dur_us},
    {"zt_dur_ms", zt_printf_cb_zt_dur_ms},
    {"zt_dur_secs", zt_printf_cb_zt_dur_secs},
    {"zt_dur_mins", zt_printf_cb_zt_dur_mins},
    {"zt_dur", zt_printf_cb_zt_dur},
    {"zt_time", zt_printf_cb_zt_time},
    {"zt_reltime", zt_printf_cb_zt_reltime},
    {"zt_dur_pretty", zt_printf_cb_zt_dur_pretty},
    {"zt_time_pretty", zt_printf_cb_zt_time_pretty},
    {"zt_reltime_pretty", zt_printf_cb_zt_reltime_pretty},
};

TEST(TimeTextBounds, EverySizeUpToTheFullLength) {
    ztc_test::fixed_clock clock(1000, 5000000000);
    for (const auto &f : time_formatters) {
        for (zt_time_t t :
             {zt_time_t{-1234567890}, zt_time_t{90061000000000}, zt_time_t{0}, INT64_MIN}) {
            SCOPED_TRACE(testing::Message() << f.name << " of " << t);
            EXPECT_TRUE(ztc_test::cuts_cleanly(f.cb, &t));
        }
    }
}

TEST(TimeTextBounds, NegativeCompactSignCountsAgainstTheBuffer) {
    ztc_test::fixed_clock clock(1000);
    const zt_time_t t = -1234567890;
    const struct {
        size_t size;
        const char *text;
    } cases[] = {{0, ""}, {1, ""}, {2, "-"}, {3, "-1"}, {7, "-1.23s"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const auto out = call_guarded(zt_printf_cb_zt_dur, &t, c.size);
        EXPECT_TRUE(out.fenced);
        EXPECT_TRUE(out.terminated);
        EXPECT_EQ(out.text, c.text);
        EXPECT_EQ(out.result, c.size ? 6 : 0);
    }
}

TEST(TimeTextBounds, NullValueIsNotRead) {
    for (const auto &f : time_formatters) EXPECT_EQ(ztc_test::full_text(f.cb, nullptr), "(null)");
}

// Random values, rates, clocks and sizes: never past the size, always terminated, the cut
// text a prefix of the full one, and the time point's compact text that of the duration.
TEST(TimeTextBounds, RandomValuesAtSeveralRates) {
    std::mt19937_64 rng(20240611);
    std::uniform_int_distribution<int64_t> any;
    std::uniform_int_distribution<size_t> sizes(0, 48);
    const int64_t rates[] = {1, 27, 1000, 2000, 1000000, INT64_MAX};
    for (int64_t rate : rates) {
        for (int i = 0; i < 400; ++i) {
            // Mix full-range values with small ones so every row of the tables is reached.
            const int shift = static_cast<int>(rng() % 64);
            const zt_time_t t = i % 2 ? any(rng) : any(rng) >> shift;
            ztc_test::fixed_clock clock(rate, any(rng) >> (rng() % 64));
            const size_t size = sizes(rng);
            SCOPED_TRACE(testing::Message() << t << " at rate " << rate << " size " << size);
            for (const auto &f : time_formatters) {
                const std::string full = ztc_test::full_text(f.cb, &t);
                const auto out = call_guarded(f.cb, &t, size);
                ASSERT_TRUE(out.fenced) << f.name;
                ASSERT_TRUE(out.terminated) << f.name;
                ASSERT_EQ(out.text, size ? full.substr(0, size - 1) : "") << f.name;
            }
            EXPECT_EQ(ztc_test::full_text(zt_printf_cb_zt_time, &t),
                      ztc_test::full_text(zt_printf_cb_zt_dur, &t));
        }
    }
}

} // namespace
