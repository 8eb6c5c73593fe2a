// The text, binary and external writers and the binary record.
#include <string.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/ztc/os/printf.h"
#include "tests/base/ztc/debug/binary_record_decoder.h"
#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
std::string text_line(debug_output_t *out, int num, const char *name, const char *time_text,
                      int module, const char *function, const char *fmt, ...) {
    auto *sink = reinterpret_cast<Sink *>(out->u.text.user);
    sink->bytes.clear();
    va_list ap;
    va_start(ap, fmt);
    debug_print_text(out, num, name, time_text, module, 2, "src/file", 31, function, fmt, ap);
    va_end(ap);
    return sink->bytes;
}

std::string libc_line(int num, const char *name, const char *time_text, const char *module_name,
                      const char *function, const char *message) {
    char buf[2048];
    snprintf(buf, sizeof buf, kStderrFormat, num, time_text, module_name, 2, "src/file", function,
             31, name, message);
    return buf;
}
} // namespace

// A "%" brought in by a header value prints as itself, in its column.
TEST(TextWriter, HeaderValuesPrintLiterally) {
    struct Case {
        const char *name, *time_text, *module_name, *function;
    } cases[] = {
        {"50%s", "000000005.000042", "TEST", "fn"},
        {"w%n", "1.2", "TEST", "fn"},
        {"", "12%s%n", "TEST", "fn"},
        {"", "1", "T%sST", "fn"},
        {"", "1", "TEST", "f%n%s%d"},
        {"\x1b\x01ztc-message\x02\x1b", "1", "TEST", "fn"},
        {"%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%", "%%%%", "%", "%%"},
    };
    const char *saved = debug_type_strings[37];
    for (const Case &c : cases) {
        Sink sink;
        debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, reinterpret_cast<intptr_t>(&sink));
        debug_type_strings[37] = c.module_name;
        EXPECT_EQ(text_line(&out, 7, c.name, c.time_text, 37, c.function, "<%d>", 5),
                  libc_line(7, c.name, c.time_text, c.module_name, c.function, "<5>"));
    }
    debug_type_strings[37] = saved;
}

TEST(TextWriter, MessageFormatActsOnTheWholeLine) {
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, reinterpret_cast<intptr_t>(&sink));
    int count = -1;
    std::string line = text_line(&out, 1, "%%x", "t", 0, "fn", "ab%nc", &count);
    EXPECT_EQ(count, static_cast<int>(line.size()) - 2); // from the line start up to "c\n"
    line = text_line(&out, 1, "a%b", "t", 0, "fn", "%2$s-%1$d", 4, "q");
    EXPECT_TRUE(line.ends_with("a%bq-4\n")) << line;
    // A message ending inside a conversion runs on into the newline, which ends it.
    line = text_line(&out, 1, "", "t", 0, "fn", "rate 50%");
    EXPECT_TRUE(line.ends_with("rate 50\n")) << line;
    // A module outside the table has an empty name column.
    EXPECT_EQ(text_line(&out, 1, "", "t", 64, "fn", "m"), libc_line(1, "", "t", "", "fn", "m"));
    line = text_line(&out, 1, "", "t", 0, "fn", "%--d", 3);
    EXPECT_EQ(line.rfind("error:286:", 0), 0u) << line; // replaces header and newline
    EXPECT_EQ(line.find_first_of("\n"), std::string::npos);
}

TEST(TextWriter, LengthLimits) {
    std::string long_value(2000, 'x'), long_format(1100, 'y');
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, reinterpret_cast<intptr_t>(&sink));
    std::string line = text_line(&out, 1, "", "t", 0, "fn", "%s", long_value.c_str());
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.back(), 'x');
    EXPECT_EQ(text_line(&out, 1, "", "t", 0, "fn", long_format.c_str()), "");
}

// Short writes get the rest; a refusal drops the rest of that line only.
TEST(TextWriter, WriteCallbackTakingLittle) {
    struct Case {
        size_t chunk;
        int refuse_call;
        size_t first_line_bytes; // 0: the whole line
    } cases[] = {{0, 0, 0}, {3, 0, 0}, {1, 0, 0}, {5, 2, 5}, {0, 1, 0}};
    Sink plain;
    debug_output_t ref = make_output(DEBUG_OUTPUT_TEXT, 1, reinterpret_cast<intptr_t>(&plain));
    std::string whole = text_line(&ref, 1, "", "t", 0, "fn", "message %d", 12);
    for (const Case &c : cases) {
        Sink sink;
        sink.chunk = c.chunk;
        sink.refuse_call = c.refuse_call;
        debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, reinterpret_cast<intptr_t>(&sink));
        size_t first = c.refuse_call == 1   ? 0
                       : c.first_line_bytes ? c.first_line_bytes
                                            : whole.size();
        EXPECT_EQ(text_line(&out, 1, "", "t", 0, "fn", "message %d", 12), whole.substr(0, first))
            << c.chunk << "/" << c.refuse_call;
        sink.refuse_call = 0;
        EXPECT_EQ(text_line(&out, 1, "", "t", 0, "fn", "message %d", 12), whole);
    }
}

// A write callback printing to all outputs skips its own output and reaches the others.
TEST(TextWriter, PrintFromWriteCallback) {
    static Sink other;
    static debug_output_t self;
    self = make_output(DEBUG_OUTPUT_TEXT, 33, 0);
    self.u.text.write = [](intptr_t, const void *, size_t n) {
        debug_print(nullptr, 0, 1, "f", 1, "g", "inner");
        return static_cast<int>(n);
    };
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 2, reinterpret_cast<intptr_t>(&other));
    ListScope list{&self, &out};
    debug_print(nullptr, 0, 1, "f", 1, "g", "outer");
    EXPECT_NE(other.bytes.find("inner\n"), std::string::npos) << other.bytes;
    EXPECT_NE(other.bytes.find("outer\n"), std::string::npos) << other.bytes;
    EXPECT_EQ(other.calls, 2); // the inner print did not come back through self
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
    const uint8_t head[12] = {0xAB, 0xAD, 0xEB, 0x39, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(memcmp(buf, head, sizeof head), 0);
    std::string bytes(reinterpret_cast<char *>(buf), len);
    RecordReader reader(bytes);
    auto r = reader.next();
    ASSERT_TRUE(r);
    EXPECT_TRUE(reader.at_end());
    EXPECT_EQ(*r, (Record{-1, 1, 49, 227, 5, 42, "a", "f", "m"}));
}

// Through the print: records follow each other; one over 1024 bytes is dropped whole.
TEST(BinaryWriter, RecordsReadBackFieldByField) {
    FixedTime clock;
    strcpy(debug_thread_names[0], "nm");
    Sink sink;
    sink.chunk = 3;
    debug_output_t out = make_output(DEBUG_OUTPUT_BINARY, 1, reinterpret_cast<intptr_t>(&sink));
    ListScope list{&out};
    // Fixed part, "base/c" and "fc" with their NULs: 965 text bytes fill 1024 exactly.
    std::string fits(965, 'z'), too_long(966, 'z'), long_file(1000, 'F');
    std::thread([] { debug_print(nullptr, 6, 2, "base/a", 10, "fa", "one %d", 1); }).join();
    debug_print(nullptr, 7, 3, long_file.c_str(), 11, "fb", "dropped");
    debug_print(nullptr, 63, 1, "base/c", 12, "fc", "%s", too_long.c_str());
    debug_print(nullptr, 63, 1, "base/c", 12, "fc", "%s", fits.c_str());
    debug_thread_names[0][0] = '\0';
    RecordReader reader(sink.bytes);
    auto a = reader.next(), c = reader.next();
    ASSERT_TRUE(a && c);
    EXPECT_TRUE(reader.at_end());
    EXPECT_EQ(*a, (Record{0, 2, 6, 10, 5, 42, "base/a", "fa", "nmone 1"})); // name, then message
    EXPECT_EQ(*c, (Record{-1, 1, 63, 12, 5, 42, "base/c", "fc", fits}));
}
