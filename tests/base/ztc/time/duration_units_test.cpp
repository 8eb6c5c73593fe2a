#include <string>

#include <gtest/gtest.h>

#include "base/ztc/time/time.h"
#include "tests/base/ztc/guarded_buffer.hpp"
#include "tests/base/ztc/time/fixed_clock.hpp"

namespace {

struct unit_case {
    int64_t rate;
    zt_time_t ticks;
    const char *us, *ms, *secs, *mins;
};

const unit_case unit_cases[] = {
    {1000, 0, "0us", "0ms", "0s", "0mins"},
    {1000, 999, "0us", "0ms", "0s", "0mins"},
    {1000, 1000, "1us", "0ms", "0s", "0mins"},
    {1000, 999999, "999us", "0ms", "0s", "0mins"},
    {1000, 1000000, "1000us", "1ms", "0s", "0mins"},
    {1000, -1500000, "-1500us", "-1ms", "0s", "0mins"},
    {1000, 60000000000, "60000000us", "60000ms", "60s", "1mins"},
    {1000, 59999999999, "59999999us", "59999ms", "59s", "0mins"},
    {1000, 123456789012345, "123456789012us", "123456789ms", "123456s", "2057mins"},
    {1, 42, "42us", "0ms", "0s", "0mins"},
    {1, -60000000, "-60000000us", "-60000ms", "-60s", "-1mins"},
    {27, 28, "1us", "0ms", "0s", "0mins"},
    {27, 26, "0us", "0ms", "0s", "0mins"},
    {1000, INT64_MAX, "9223372036854775us", "9223372036854ms", "9223372036s", "153722867mins"},
    {1000, INT64_MIN, "-9223372036854775us", "-9223372036854ms", "-9223372036s", "-153722867mins"},
    {1, INT64_MIN, "-9223372036854775808us", "-9223372036854775ms", "-9223372036854s",
     "-153722867280mins"},
    // Unit times rate past 64 bits: the quotient is still exact.
    {INT64_MAX, INT64_MIN, "-1us", "0ms", "0s", "0mins"},
    {INT64_MAX / 1000, INT64_MAX, "1000us", "1ms", "0s", "0mins"},
    {0, 5, "bad clock rate", "bad clock rate", "bad clock rate", "bad clock rate"},
};

TEST(DurationUnits, TruncatedCountOfEachUnit) {
    for (const auto &c : unit_cases) {
        SCOPED_TRACE(testing::Message() << c.ticks << " ticks at rate " << c.rate);
        ztc_test::fixed_clock clock(c.rate);
        ztc_test::expect_text("zt_dur_us", zt_printf_cb_zt_dur_us, &c.ticks, c.us);
        ztc_test::expect_text("zt_dur_ms", zt_printf_cb_zt_dur_ms, &c.ticks, c.ms);
        ztc_test::expect_text("zt_dur_secs", zt_printf_cb_zt_dur_secs, &c.ticks, c.secs);
        ztc_test::expect_text("zt_dur_mins", zt_printf_cb_zt_dur_mins, &c.ticks, c.mins);
    }
}

TEST(DurationUnits, ReturnTheCompleteLengthAndCutCleanly) {
    const zt_time_t ticks = -123456789012345;
    for (zt_printf_cb cb : {zt_printf_cb_zt_dur_us, zt_printf_cb_zt_dur_ms,
                            zt_printf_cb_zt_dur_secs, zt_printf_cb_zt_dur_mins}) {
        const std::string full = ztc_test::full_text(cb, &ticks);
        EXPECT_EQ(ztc_test::call_guarded(cb, &ticks, 3).result, static_cast<int>(full.size()));
        EXPECT_TRUE(ztc_test::cuts_cleanly(cb, &ticks));
    }
}

} // namespace
