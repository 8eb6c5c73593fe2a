// Output, error texts and truncation of the formatting engine, each case run
// at every buffer size into a guarded buffer.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/ztc/os/printf.h"

namespace {

struct Case {
    const char *what;
    std::function<int(char *, size_t)> call;
    std::string expected;
};

#define CASE(expected, ...)                                                                        \
    Case {                                                                                         \
#__VA_ARGS__, [](char *b, size_t n) { return zt_snprintf(b, n, __VA_ARGS__); }, expected   \
    }

constexpr size_t GUARD = 16;
constexpr char FILL = '#';

// Runs `c` at every size from 0 to past its length. `header` is the length of
// "error:N:" for an error text: only that much is returned while no more fits.
void expect_at_every_size(const Case &c, size_t header = 0) {
    for (size_t size = 0; size <= c.expected.size() + 2; ++size) {
        std::vector<char> memory(size + 2 * GUARD, FILL);
        char *buf = size == 0 ? nullptr : memory.data() + GUARD;
        const size_t want = header != 0 && size <= header ? header : c.expected.size();
        ASSERT_EQ(c.call(buf, size), static_cast<int>(want)) << c.what << " size " << size;
        for (size_t i = 0; i < GUARD; ++i) {
            ASSERT_EQ(memory[i], FILL) << c.what << " wrote before the buffer, size " << size;
            ASSERT_EQ(memory[GUARD + size + i], FILL) << c.what << " wrote past the buffer";
        }
        if (size == 0) continue;
        const size_t nul = std::min(size - 1, c.expected.size());
        ASSERT_EQ(std::string(buf, nul), c.expected.substr(0, nul)) << c.what << " size " << size;
        ASSERT_EQ(buf[nul], '\0') << c.what << " size " << size;
        for (size_t i = nul + 1; i < size; ++i)
            ASSERT_EQ(buf[i], FILL) << c.what << " size " << size;
    }
}

int tag(const void *value, char *buf, size_t size) {
    return snprintf(buf, size, "<%s>", static_cast<const char *>(value));
}
int other_tag(const void *, char *buf, size_t size) {
    return snprintf(buf, size, "other");
}
int inner(const void *value, char *buf, size_t size) {
    return zt_snprintf(buf, size, "in(%p{tag})", value);
}
int deeper(const void *value, char *buf, size_t size) {
    return zt_snprintf(buf, size, "d(%p{inner})", value);
}
int clobber_errno(const void *, char *buf, size_t size) {
    errno = EIO;
    return snprintf(buf, size, "x");
}

class PrintfFormat : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::pair<const char *, zt_printf_cb> formatters[] = {
            {"tag", tag},
            {"inner", inner},
            {"deeper", deeper},
            {"clobber_errno", clobber_errno},
            {"tag", other_tag}};
        for (auto [name, formatter] : formatters) {
            ASSERT_EQ(zt_printf_register(name, formatter), ERROR_SUCCESS) << name;
        }
    }
};

std::string errno_text(int e) {
    return "[" + std::to_string(e) + "]" + strerror(e);
}

TEST_F(PrintfFormat, WritesConversionsLiteralsAndTruncates) {
    const Case cases[] = {
        CASE("abc12345", "abc%d", 12345),
        CASE("% 5% k abc%", "%% %5% %k abc%"),
        CASE("1099511627776 -5 6 7 I3d", "%I64d %I32d %Id %qd %I3d", 1LL << 40, -5, size_t{6}, 7LL),
        CASE("two 1 1    1", "%2$s %1$d %1$d %1$4d", 1, "two"),
        CASE("    42|42", "%1$*2$d|%1$d", 42, 6),
        CASE("    3.14|-7  |", "%*.*f|%-*d|", 8, 2, 3.14159, 4, -7),
        CASE("(null)|  abc|w\xc3\xa9   |\xe2\x98\xba|", "%ls|%5.3ls|%-6ls|%lc|%lc",
             static_cast<wchar_t *>(nullptr), L"abcdef", L"w\u00e9", 0x263A, 0),
        CASE("[<ab>        ][   <ab>][   <ab]", "[%-12p{tag}][%7p{tag}][%6.3p{tag}]", "ab", "ab",
             "ab"),
        CASE("0x10{nosuch} 0x20{} 0x30{a5}", "%p{nosuch} %p{} %p{a%d}", (void *)0x10, (void *)0x20,
             (void *)0x30, 5),
        CASE("in(<q>) d(error:234:recursion_depth < MAX_RECURSIVE_CALLS:)", "%p{inner} %p{deeper}",
             "q", "q"),
    };
    for (const Case &c : cases) expect_at_every_size(c);
}

TEST_F(PrintfFormat, ErrnoTextIsTheValueSavedOnEntry) {
    const Case cases[] = {
        {"%m", [](char *b, size_t n) { return errno = ENOENT, zt_snprintf(b, n, "%m|%-40m|"); },
         errno_text(ENOENT) + "|" + errno_text(ENOENT) +
             std::string(40 - errno_text(ENOENT).size(), ' ') + "|"},
        {"clobbered",
         [](char *b, size_t n) {
             return errno = EACCES, zt_snprintf(b, n, "%p{clobber_errno}%m", nullptr);
         },
         "x" + errno_text(EACCES)},
        {"positional",
         [](char *b, size_t n) { return errno = 0, zt_snprintf(b, n, "%2$s%% %m %1$d", 7, "v"); },
         "v% " + errno_text(0) + " 7"},
    };
    for (const Case &c : cases) expect_at_every_size(c);
}

TEST_F(PrintfFormat, CountStoresTheFullLengthAtEverySize) {
    int full = 0;
    signed char small = 0;
    long long wide = 0;
    const Case c{"%n",
                 [&](char *b, size_t n) {
                     full = small = wide = -1;
                     const int r = zt_snprintf(b, n, "abcdef%n%hhn%lln|", &full, &small, &wide);
                     EXPECT_EQ(full, 6);
                     EXPECT_EQ(small, 6);
                     EXPECT_EQ(wide, 6);
                     return r;
                 },
                 "abcdef|"};
    expect_at_every_size(c);
}

TEST_F(PrintfFormat, WideTextsShareOneBufferPerCall) {
    const std::wstring accents(1000, L'\u00e9'), ascii(100, L'a'), fill(2046, L'b');
    const std::string accents8 = [&] {
        std::string s;
        for (int i = 0; i < 1000; ++i) s += "\xc3\xa9";
        return s;
    }();
    const Case cases[] = {
        {"too long",
         [&](char *b, size_t n) {
             return zt_snprintf(b, n, "%ls|%ls|%ls", accents.c_str(), ascii.c_str(), L"ok");
         },
         accents8 + "||ok"},
        {"exceeded",
         [&](char *b, size_t n) {
             return zt_snprintf(b, n, "%ls|%ls|%lc", L"", fill.c_str(), L'z');
         },
         "|" + std::string(2046, 'b') + "|mbsbuffer_exceeded"},
    };
    for (const Case &c : cases) expect_at_every_size(c);
}

struct ErrorCase {
    Case c;
    int check;
};

std::string repeated(const char *piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
}

TEST_F(PrintfFormat, EveryCheckWritesItsNumberedText) {
    static const std::string full127 = repeated("%%", 127), full128 = repeated("%%", 128);
    const std::string numbering = "valid_numbering:vararg_number=";
    const std::string spec_len = "(arg)->cs_len + 1 < MAX_CONVERSION_SPEC_LEN:";
    const ErrorCase cases[] = {
        {CASE(numbering + "0", "%1$d %d", 1, 2), 268},
        {CASE(numbering + "1", "%d %1$d", 1, 2), 268},
        {CASE(numbering + "0", "%0$d", 1), 268},
        {CASE(numbering + "128", "%128$d", 1), 268},
        {CASE(numbering + "4294967295", "%-1$d", 1), 268},
        {CASE(spec_len, "%1234567890123456d", 1), 273},
        {CASE("strchr(arg->cs, c) == &arg->cs[arg->cs_len - 1]:duplicate printf flag -", "%--d", 1),
         286},
        {CASE("strchr(arg->cs, c) == &arg->cs[arg->cs_len - 1]:duplicate printf flag 0", "%0+0d",
              1),
         286},
        {{"width full",
          [](char *b, size_t n) { return zt_snprintf(b, n, (full127 + "%*d").c_str(), 1, 2); },
          "arg_count < MAX_VARARG_COUNT:"},
         306},
        {CASE(numbering + "0", "%1$*d", 1, 2), 314},
        {CASE(numbering + "1", "%*1$d", 1, 2), 314},
        {CASE(numbering + "128", "%*128$d", 1), 314},
        {CASE("c != '-':a negative precision is silly", "%.-3d", 1), 332},
        {{"precision full",
          [](char *b, size_t n) { return zt_snprintf(b, n, (full127 + "%.*d").c_str(), 1, 2); },
          "arg_count < MAX_VARARG_COUNT:"},
         339},
        {CASE(numbering + "0", "%1$.*d", 1, 2), 347},
        {CASE(numbering + "0", "%1$d%.*2$d", 1, 2), 268},
        {CASE(spec_len, "%1234567890123hhd", 1), 426},
        {CASE("valid_length:", "%Ld", 1), 512},
        {CASE("valid_length:", "%tu", 1), 512},
        {CASE("valid_length:", "%lf", 1.0), 512},
        {CASE("valid_length:", "%hp", nullptr), 512},
        {CASE("valid_length:", "%I64c", 1), 512},
        {CASE("args[i].vararg_number == 0:", "%1$%"), 527},
        {CASE("args[i].vararg_number == 0:", "%1$m"), 533},
        {{"table full",
          [](char *b, size_t n) { return zt_snprintf(b, n, (full128 + "%d").c_str(), 1); },
          "arg_count < MAX_VARARG_COUNT:"},
         262},
        {CASE("arg != NULL:fmt does not include vararg 1", "%2$d", 1, 2), 604},
        {CASE("arg != NULL:fmt does not include vararg 1", "%127$d", 1), 604},
        {CASE("arg->len == args[i].len:", "%1$d %1$ld", 1), 746},
        {CASE("arg->type == args[i].type:", "%1$d %1$x", 1), 747},
        {CASE("arg_printed < arg_count:", "%d %*", 1, 2), 763},
        {CASE("arg_printed < arg_count:", "%*.*", 1, 2), 770},
        {CASE("res >= 0:", "ab%9999999999d", 1), 917},
        {CASE("fmt != NULL:", nullptr), 219},
    };
    for (const ErrorCase &e : cases) {
        const std::string header = "error:" + std::to_string(e.check) + ":";
        expect_at_every_size({e.c.what, e.c.call, header + e.c.expected}, header.size());
    }
    // 128 records fit the table.
    expect_at_every_size({"128 records",
                          [](char *b, size_t n) { return zt_snprintf(b, n, full128.c_str()); },
                          std::string(128, '%')});
}

TEST_F(PrintfFormat, WideTargetConvertsOrRefuses) {
    struct WideCase {
        size_t capacity;
        ssize_t result;
        std::wstring text;
    };
    // A terminator follows only when fewer than `capacity` characters were written.
    const WideCase cases[] = {
        {128, 2, L"78"}, {3, 2, L"78"}, {2, 2, L"78"}, {1, -1, L""}, {0, -1, L""}};
    for (const WideCase &w : cases) {
        std::vector<wchar_t> buf(w.capacity + 1, L'#');
        ASSERT_EQ(zt_swprintf(buf.data(), w.capacity, "%s%d", "", 78), w.result) << w.capacity;
        if (w.result < 0) continue;
        EXPECT_EQ(std::wstring(buf.data(), w.result), w.text);
        EXPECT_EQ(buf[w.result], size_t(w.result) < w.capacity ? L'\0' : L'#');
        EXPECT_EQ(buf[w.capacity], L'#');
    }
    wchar_t out[128];
    EXPECT_EQ(zt_swprintf(out, 64, "%s|%ls", "\xc3\xa9", L"\u263a"), 3);
    EXPECT_EQ(std::wstring(out), L"\u00e9|\u263a");
    // The UTF-8 scratch is cut inside the last character.
    EXPECT_EQ(zt_swprintf(out, 1, "%s", "\xf0\x9f\x98\x80"), -1);
    EXPECT_EQ(zt_swprintf(out, 128, "%--d", 1), 81);
    EXPECT_EQ(std::wstring(out).substr(0, 10), L"error:286:");
}

TEST(PrintfRegistry, RefusesBadRegistrationsAndKeepsTheFirst) {
    struct Registration {
        const char *name;
        zt_printf_cb formatter;
        error_code_t result;
    };
    const Registration cases[] = {
        {"nineteen_characters", tag, ERROR_SUCCESS},
        {"twenty_characters_xx", tag, ERROR_INVALID_ARGUMENT},
        {"", tag, ERROR_INVALID_ARGUMENT},
        {nullptr, tag, ERROR_INVALID_ARGUMENT},
        {"no_formatter", nullptr, ERROR_INVALID_ARGUMENT},
    };
    for (const Registration &r : cases)
        EXPECT_EQ(zt_printf_register(r.name, r.formatter), r.result) << (r.name ? r.name : "null");

    char buf[64];
    zt_snprintf(buf, sizeof buf, "%p{nineteen_characters}|%p{no_formatter}", "v", (void *)0x1);
    EXPECT_STREQ(buf, "<v>|0x1{no_formatter}");
    zt_snprintf(buf, sizeof buf, "%p{twenty_characters_xx}", (void *)0x1);
    EXPECT_STREQ(buf, "0x1{twenty_characters_xx}");
}

} // namespace
