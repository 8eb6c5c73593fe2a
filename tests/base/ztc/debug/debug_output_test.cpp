// The text and binary writers and the binary record.
#include <string.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <string>
#include <thread>
#include <tuple>

#include "base/ztc/os/printf.h"
#include "tests/base/ztc/debug/binary_record_decoder.h"
#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
// One line of level 2 from "src/file" line 31 through the text writer into the output's sink.
std::string text_line(debug_output_t *out, const char *name, const char *time_text, int module,
                      const char *function, const char *fmt, ...) {
    auto *sink = reinterpret_cast<Sink *>(out->u.text.user);
    sink->bytes.clear();
    va_list ap;
    va_start(ap, fmt);
    debug_print_text(out, 7, name, time_text, module, 2, "src/file", 31, function, fmt, ap);
    va_end(ap);
    return sink->bytes;
}

std::string libc_line(const char *name, const char *time_text, const char *module_name,
                      const char *function, const char *message) {
    char buf[2048];
    snprintf(buf, sizeof buf, kStderrFormat, 7, time_text, module_name, 2, "src/file", function, 31,
             name, message);
    return buf;
}
} // namespace

// A "%" brought in by a header value prints as itself, in its column.
TEST(TextWriter, HeaderValuesPrintLiterally) {
    // More "%" than the engine has records for a format.
    const std::string many(300, '%');
    // Thread name, time text, module name, function name.
    using Values = std::tuple<const char *, const char *, const char *, const char *>;
    const Values cases[] = {
        {"50%s", "000000005.000042", "TEST", "fn"},
        {"w%n", "1.2", "TEST", "fn"},
        {"", "12%s%n", "T%sST", "f%n%s%d"},
        {"\x1b\x01ztc-message\x02\x1b", "1", "TEST", "fn"},
        {"%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%", "%%%%", "%", "%%"},
        {many.c_str(), "1", "TEST", many.c_str()},
    };
    Set<const char *> module(debug_type_strings[37], nullptr);
    for (auto [name, time_text, module_name, function] : cases) {
        Sink sink;
        debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, &sink);
        debug_type_strings[37] = module_name;
        EXPECT_EQ(text_line(&out, name, time_text, 37, function, "<%d>", 5),
                  libc_line(name, time_text, module_name, function, "<5>"));
    }
}

// The header's numbers in and out of the ranges the standard line lays out by hand.
TEST(TextWriter, HeaderNumbersOfEveryRange) {
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, &sink);
    const std::tuple<int, int, int> cases[] = {{-1, 0, 0},        {0, 9, 9999},
                                               {99, 10, 10000},   {100, -1, -1},
                                               {-2, 123, 123456}, {INT_MIN, INT_MAX, INT_MIN}};
    for (const auto &c : cases) {
        // Plain names: clang 14 cannot capture structured bindings in a lambda.
        const int num = std::get<0>(c), level = std::get<1>(c), line = std::get<2>(c);
        sink.bytes.clear();
        [&](const char *fmt, ...) {
            va_list ap;
            va_start(ap, fmt);
            debug_print_text(&out, num, "", "t", 0, level, "src/file", line, "fn", fmt, ap);
            va_end(ap);
        }("m%d", 1);
        char want[256];
        snprintf(want, sizeof want, kStderrFormat, num, "t", "GENERIC", level, "src/file", "fn",
                 line, "", "m1");
        EXPECT_EQ(sink.bytes, want) << num << " " << level << " " << line;
    }
}

// %n counts from the line's start, positional messages work, a rejected message replaces the
// whole line; over-long lines are cut to 1023 bytes, an over-long header drops the line.
TEST(TextWriter, MessageFormatActsOnTheWholeLine) {
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, &sink);
    int count = -1;
    std::string line = text_line(&out, "%%x", "t", 0, "fn", "ab%nc", &count);
    EXPECT_EQ(count, static_cast<int>(line.size()) - 2); // up to "c\n"
    line = text_line(&out, "a%b", "t", 0, "fn", "%2$s-%1$d", 4, "q");
    EXPECT_TRUE(line.ends_with("a%bq-4\n")) << line;
    // A message ending inside a conversion runs on into the newline, which ends it.
    line = text_line(&out, "", "t", 0, "fn", "rate 50%");
    EXPECT_TRUE(line.ends_with("rate 50\n")) << line;
    line = text_line(&out, "", "t", 0, "fn", "%s %d%%, %", "rate", 50);
    EXPECT_TRUE(line.ends_with("rate 50%, \n")) << line;
    EXPECT_EQ(text_line(&out, "", "t", 64, "fn", "m"), libc_line("", "t", "", "fn", "m"));
    line = text_line(&out, "", "t", 0, "fn", "%--d", 3);
    EXPECT_TRUE(line.starts_with("error:286:") && !line.ends_with("\n")) << line;

    std::string long_value(2000, 'x'), long_format(1100, 'y');
    line = text_line(&out, "", "t", 0, "fn", "%s", long_value.c_str());
    EXPECT_EQ(line, libc_line("", "t", "GENERIC", "fn", long_value.c_str()).substr(0, 1023));
    EXPECT_EQ(text_line(&out, "", "t", 0, "fn", long_format.c_str()), "");
    // A name ending like the start of the engine's placeholder must not hide the overflow.
    EXPECT_EQ(text_line(&out, "\x1b\x01ztc-message\x02", "t", 0, "fn", long_format.c_str()), "");
}

// A custom format's message conversion acts on the message format text: the header is
// formatted with that text as its ninth value, and the result is the format of the caller's
// values. Where a header value brings in a "%", it prints as itself.
TEST(TextWriter, CustomFormatsFollowTheTwoPassModel) {
    const std::string head = "%02d:%s %s%d %.0s%s:%d:%s";
    struct Case {
        std::string format;
        const char *name, *message;
    };
    const Case cases[] = {
        {head + "<%.4s>\n", "w", "v=%d %s"},
        {head + "<%.3s-x>\n", "w", "a%-d"}, // cut inside a conversion that the rest continues
        {head + "<%.3s>\n", "w", "%1$d"},   // cut where the rest makes the number positional
        {head + "<%.7s>\n", "w", "v=%d %s"},
        {head + "[%20s]\n", "w", "v=%d %s"},
        {head + "[%-20s]\n", "w", "v=%d %s"},
        {head + "[%-12.6s]\n", "w", "v=%d %s"},
        {head + "[%.0s]\n", "w", "v=%d %s"},
        {head + "%s 100%%%%\n", "w", "v=%d %s"},
        {"%1$d %9$.2s|%8$s\n", "w", "%d"},
        {head + "<%.4s>\n", "5%s", "v=%d %s"},
        {head + "[%-20s]\n", "%n%%", "%d%%"},
    };
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, &sink);
    for (const Case &c : cases) {
        ASSERT_LT(c.format.size(), sizeof out.u.text.format);
        strcpy(out.u.text.format, c.format.c_str());
        // The names take no width, so doubling their "%" prints them as themselves.
        std::string name;
        for (const char *p = c.name; *p; ++p) name.append(*p == '%' ? 2 : 1, *p);
        char header[1024], line[1024];
        zt_snprintf(header, sizeof header, c.format.c_str(), 7, "t", "GENERIC", 2, "src/file", "fn",
                    31, name.c_str(), c.message);
        zt_snprintf(line, sizeof line, header, 5, "abc");
        const std::string got = text_line(&out, c.name, "t", 0, "fn", c.message, 5, "abc");
        EXPECT_EQ(got, line) << c.format;
        EXPECT_EQ(got.find('\x1b'), std::string::npos) << c.format;
    }
}

// Short writes get the rest; a refusal drops the rest of that line only.
TEST(TextWriter, WriteCallbackTakingLittle) {
    // Bytes per call (0: all), the call refused (0: none), what the first line gets.
    const std::tuple<size_t, int, size_t> cases[] = {
        {3, 0, SIZE_MAX}, {1, 0, SIZE_MAX}, {5, 2, 5}, {0, 1, 0}};
    Sink plain;
    debug_output_t ref = make_output(DEBUG_OUTPUT_TEXT, 1, &plain);
    const std::string whole = text_line(&ref, "", "t", 0, "fn", "message %d", 12);
    for (auto [chunk, refuse_call, first_line] : cases) {
        Sink sink(chunk, refuse_call);
        debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, &sink);
        EXPECT_EQ(text_line(&out, "", "t", 0, "fn", "message %d", 12), whole.substr(0, first_line))
            << chunk << "/" << refuse_call;
        EXPECT_EQ(text_line(&out, "", "t", 0, "fn", "message %d", 12), whole);
    }
}

TEST(BinaryRecord, ExampleRecordAndEveryShortCapacity) {
    struct timeval tv = {5, 42};
    uint8_t buf[80];
    size_t len = 99;
    for (size_t cap = 0; cap <= 54; ++cap) {
        memset(buf, 0xEE, sizeof buf);
        error_code_t rc = debug_encode_binary(buf, cap, &len, -1, 1, &tv, 49, "a", "f", 227, "m");
        EXPECT_EQ(rc, cap < 54 ? ERROR_OUT_OF_MEMORY : ERROR_SUCCESS) << cap;
        EXPECT_EQ(len, cap < 54 ? 0u : 54u) << cap;
        for (size_t i = cap; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0xEE) << cap << " " << i;
    }
    using namespace std::string_literals;
    const std::string example =
        "\xAB\xAD\xEB\x39\0\0\0\x02\xFF\xFF\xFF\xFF\0\0\0\x01"s + // magic .. level
        "\0\0\0\0\0\0\0\x05\0\0\0\x2A\0\0\0\x31"s +               // time, module 49
        "\0\0\0\2a\0\0\0\0\2f\0\0\0\0\343\0\0\0\2m\0"s;           // texts, line 227 (octal)
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), len), example);
}

// Through the print: records follow each other; one over 1024 bytes is dropped whole. With
// allocation off another thread is number 0 and carries name 0, except under module 49.
TEST(BinaryWriter, RecordsReadBackFieldByField) {
    FixedTime clock;
    strcpy(debug_thread_names[0], "nm");
    Sink sink(3);
    debug_output_t out = make_output(DEBUG_OUTPUT_BINARY, 1, &sink);
    ListScope list{&out};
    // Fixed part, "base/c" and "fc" with their NULs: 965 text bytes fill 1024 exactly.
    std::string fits(965, 'z'), too_long(966, 'z'), long_file(1000, 'F');
    std::thread([] {
        debug_print(nullptr, 6, 2, "base/a", 10, "fa", "one %d", 1);
        debug_print(nullptr, 49, 2, "base/a", 10, "fa", "tag");
    }).join();
    debug_print(nullptr, 7, 3, long_file.c_str(), 11, "fb", "dropped");
    debug_print(nullptr, 63, 1, "base/c", 12, "fc", "%s", too_long.c_str());
    debug_print(nullptr, 63, 1, "base/c", 12, "fc", "%s", fits.c_str());
    debug_thread_names[0][0] = '\0';
    RecordReader reader(sink.bytes);
    EXPECT_EQ(reader.next(), (Record{0, 2, 6, 10, 5, 42, "base/a", "fa", "nmone 1"}));
    EXPECT_EQ(reader.next(), (Record{0, 2, 49, 10, 5, 42, "base/a", "fa", "tag"}));
    EXPECT_EQ(reader.next(), (Record{-1, 1, 63, 12, 5, 42, "base/c", "fc", fits}));
    EXPECT_TRUE(reader.at_end());
}
