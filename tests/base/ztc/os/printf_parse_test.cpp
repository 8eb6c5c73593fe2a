// The records that parsing and numbering build: rebuilt specifications,
// types and argument numbers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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
    struct ParseCase {
        const char *fmt;
        const char *records;
    };
    const ParseCase cases[] = {
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
    for (const ParseCase &c : cases) EXPECT_EQ(describe(c.fmt), c.records) << c.fmt;
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

} // namespace
