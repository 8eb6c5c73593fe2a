// The records that parsing and numbering build, and the reuse of a parse by a
// later call whose format sits at the same address: reused only while it still
// holds, so new bytes there, a failed format and a formatter registered in
// between are all seen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf_internal.h"

namespace {

using namespace ztc::printf_engine;

// Each record as "cs:type:number", separated by spaces.
std::string describe(const char *fmt) {
    std::vector<Arg> args(MAX_VARARG_COUNT);
    ParsedFormat parsed;
    if (Failure f = parse_format(fmt, args.data(), parsed))
        return "check " + std::to_string(f.check);
    std::string text;
    for (int i = 0; i < parsed.arg_count; ++i) {
        const Arg &a = args[i];
        text += (i ? " " : "") + std::string(a.cs) + ":" + std::to_string(a.type) + ":" +
                std::to_string(a.vararg_number);
    }
    return text + " values " + std::to_string(parsed.value_count);
}

TEST(PrintfParse, RebuildsSpecificationsAndNumbersArguments) {
    const std::pair<const char *, const char *> cases[] = {
        {"%I64d %I32d %Id %qd", "%ld:2:1 %d:2:2 %zd:2:3 %ld:2:4 values 4"},
        {"%I3d", "%z3:1:0 values 0"},
        {"%ls %-8ls %lc", "%s:6:1 %-8s:6:2 %s:5:3 values 3"},
        {"%m %-30m", "%s:9:1 %-30s:9:1 values 0"},
        {"%d %m %s", "%d:2:1 %s:9:3 %s:6:2 values 2"},
        {"%*.*f", ":10:1 :11:2 %*.*f:4:3 values 3"},
        {"%1$*2$d", ":10:2 %*d:2:1 values 2"},
        {"%2$s %1$d %%", "%s:6:2 %d:2:1 %%:1:0 values 2"},
        {"%% %3$d %m %1$d", "%%:1:0 %d:2:3 %s:9:4 %d:2:1 values 3"},
        {"%127$d", "%d:2:127 values 127"},
        {"% +5$hhx % 2$c %+ 5$d", "%hhx:3:5 %c:5:2 %+ 5$:1:0 values 5"},
        {"%lld %hhn %5%", "%lld:2:1 %hhn:8:2 %5%:1:0 values 2"},
        {"%p{}%p{nosuch}", "%p:7:1 %p:7:2 values 2"},
        {"%hld %d", "%hl:1:0 %d:2:1 values 1"},
        {"%.*", ":11:1 values 1"},
        {"abc%5", " values 0"},
    };
    for (auto [fmt, records] : cases) EXPECT_EQ(describe(fmt), records) << fmt;
}

TEST(PrintfParse, PositionScanAgreesWithSscanf) {
    const char *inputs[] = {"1$d",
                            " 5$x",
                            "+7$s",
                            "-1$d",
                            "4294967296$d",
                            "12$",
                            "$d",
                            "1 $d",
                            "\t\n3$d",
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
