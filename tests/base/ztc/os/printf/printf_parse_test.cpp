// The position scan, and the reuse of a parse by a later call whose format sits at
// the same address: reused only while it still holds, so new bytes there, a failed
// format and a formatter registered in between are all seen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/internal.hpp"

namespace {

using namespace ztc::printf_engine;

// The hand-written position scan reads what sscanf with "%u$%c" reads.
TEST(PrintfParse, PositionScanAgreesWithSscanf) {
    const char *inputs[] = {"1$d",
                            " 5$x",
                            "+7$s",
                            "-1$d",
                            "4294967296$d",
                            "12$",
                            "$d",
                            "1 $d",
                            "\t\v3$d",
                            "-$d",
                            "0x1$",
                            "0012$",
                            "7$$",
                            "99999999999999999999$d",
                            "18446744073709551615$d",
                            "d",
                            "",
                            "+-1$d",
                            "-18446744073709551615$d"};
    for (const char *text : inputs) {
        unsigned number = 0;
        int rest = -1;
        char next = 0;
        const bool positional = sscanf(text, "%u$%n%c", &number, &rest, &next) == 2;
        const PositionScan scan = scan_position(text);
        ASSERT_EQ(scan.positional, positional) << text;
        if (!positional) continue;
        EXPECT_EQ(scan.number, number) << text;
        EXPECT_EQ(scan.rest, text + rest) << text;
    }
}

// Every format gets the same two values: 10, then 42.
std::string format(const char *fmt) {
    char buf[128];
    zt_snprintf(buf, sizeof buf, fmt, 10, 42);
    return buf;
}

TEST(PrintfReuse, NewBytesAtTheSameAddressAreParsedAgain) {
    const std::pair<const char *, const char *> steps[] = {
        {"%5d|", "   10|"},
        {"%-5d|", "10   |"},   // same length, one byte differs
        {"%-5x|", "a    |"},   // same length, another conversion
        {"%-5x|%", "a    |%"}, // one byte longer
        {"%--5d",
         "error:286:strchr(arg->cs, c) == &arg->cs[arg->cs_len - 1]:duplicate printf flag -"},
        {"%-5d|", "10   |"}, // after a failed format
        {"%-5d|", "10   |"}, // and once more, reused
    };
    char fmt[32];
    for (auto [text, expected] : steps) {
        strcpy(fmt, text);
        EXPECT_EQ(format(fmt), expected) << text;
    }
}

TEST(PrintfReuse, FormatsTakingTurnsKeepTheirOwnOutput) {
    // More formats than are remembered at once, in turn, simple and not.
    static const std::pair<const char *, const char *> steps[] = {
        {"a%d", "a10"}, {"%x-", "a-"},   {"%1$x%1$X", "aA"},   {"[%*d]", "[        42]"},
        {"%c!", "\n!"}, {"%%%u", "%10"}, {"%5.3d|", "  010|"},
    };
    for (int round = 0; round < 3; ++round)
        for (auto [fmt, expected] : steps) EXPECT_EQ(format(fmt), expected) << fmt << round;
}

TEST(PrintfReuse, ARegistrationAfterAMissIsSeen) {
    static const char fmt[] = "%p{reuse_late}";
    char buf[64];
    zt_snprintf(buf, sizeof buf, fmt, nullptr);
    EXPECT_STREQ(buf, "(nil){reuse_late}");
    const zt_printf_cb late = [](const void *, char *b, size_t n) {
        return snprintf(b, n, "late");
    };
    ASSERT_EQ(zt_printf_register("reuse_late", late), ERROR_SUCCESS);
    zt_snprintf(buf, sizeof buf, fmt, nullptr);
    EXPECT_STREQ(buf, "late");
}

} // namespace
