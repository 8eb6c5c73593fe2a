// A call whose format sits at the address of an earlier one reuses that
// parse only while it still holds: new bytes at the same address, a failed
// format, and a formatter registered in between are all seen.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/ztc/os/printf.h"

namespace {

std::string format(const char *fmt, int value) {
    char buf[128];
    zt_snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

int late(const void *, char *buf, size_t size) {
    return snprintf(buf, size, "late");
}

TEST(PrintfReuse, NewBytesAtTheSameAddressAreParsedAgain) {
    struct Step {
        const char *text;
        const char *expected;
    };
    const Step steps[] = {
        {"%5d|", "   42|"},
        {"%-5d|", "42   |"},   // same length, one byte differs
        {"%-5x|", "2a   |"},   // same length, another conversion
        {"%-5x|%", "2a   |%"}, // one byte longer
        {"%--5d",
         "error:286:strchr(arg->cs, c) == &arg->cs[arg->cs_len - 1]:duplicate printf flag -"},
        {"%-5d|", "42   |"}, // after a failed format
        {"%-5d|", "42   |"}, // and once more, reused
    };
    char fmt[32];
    for (const Step &step : steps) {
        strcpy(fmt, step.text);
        EXPECT_EQ(format(fmt, 42), step.expected) << step.text;
    }
}

TEST(PrintfReuse, FormatsTakingTurnsKeepTheirOwnOutput) {
    // More formats than are remembered at once, in turn, simple and not.
    struct Step {
        const char *fmt;
        const char *expected;
    };
    static const Step steps[] = {
        {"a%d", "a42"}, {"%x-", "2a-"},  {"%1$x%1$X", "2a2A"}, {"[%*d]", "[42]"},
        {"%c!", "*!"},  {"%%%u", "%42"}, {"%5.3d|", "  042|"},
    };
    for (int round = 0; round < 3; ++round) {
        for (const Step &step : steps) {
            char buf[64];
            // "%*d" takes its width first.
            if (strchr(step.fmt, '*') != nullptr) {
                zt_snprintf(buf, sizeof buf, step.fmt, 0, 42);
            } else {
                zt_snprintf(buf, sizeof buf, step.fmt, 42);
            }
            EXPECT_STREQ(buf, step.expected) << step.fmt << " round " << round;
        }
    }
}

TEST(PrintfReuse, ARegistrationAfterAMissIsSeen) {
    static const char fmt[] = "%p{reuse_late}";
    char buf[64];
    zt_snprintf(buf, sizeof buf, fmt, nullptr);
    EXPECT_STREQ(buf, "(nil){reuse_late}");
    ASSERT_EQ(zt_printf_register("reuse_late", late), ERROR_SUCCESS);
    zt_snprintf(buf, sizeof buf, fmt, nullptr);
    EXPECT_STREQ(buf, "late");
}

} // namespace
