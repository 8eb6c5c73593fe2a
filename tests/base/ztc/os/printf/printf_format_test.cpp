// Output, error texts and truncation of the formatting engine, each case run
// at every buffer size into a guarded buffer.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>
#include <cwchar>

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

// Runs `c` at every size from 0 to past its length, with errno ENOENT on entry.
// An error text "error:N:..." returns only the header's length while no more fits.
void expect_at_every_size(const Case &c) {
    constexpr size_t GUARD = 16;
    const size_t header = c.expected.rfind("error:", 0) == 0 ? c.expected.find(':', 6) + 1 : 0;
    for (size_t size = 0; size <= c.expected.size() + 2; ++size) {
        std::string memory(size + 2 * GUARD, '#'), want(memory);
        errno = ENOENT;
        const int result = c.call(size == 0 ? nullptr : memory.data() + GUARD, size);
        ASSERT_EQ(result, int(header != 0 && size <= header ? header : c.expected.size()))
            << c.what << " size " << size;
        // The cut text and its NUL; every other byte, guards included, untouched.
        if (size != 0) {
            const size_t nul = std::min(size - 1, c.expected.size());
            want.replace(GUARD, nul, c.expected, 0, nul);
            want[GUARD + nul] = '\0';
        }
        ASSERT_EQ(memory, want) << c.what << " size " << size;
    }
}

std::string repeated(const char *piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
}

std::string errno_text(int e) {
    return "[" + std::to_string(e) + "]" + strerror(e);
}

int tag(const void *value, char *buf, size_t size) {
    return snprintf(buf, size, "<%s>", static_cast<const char *>(value));
}

class PrintfFormat : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::pair<const char *, zt_printf_cb> formatters[] = {
            {"tag", tag},
            {"inner",
             [](const void *v, char *b, size_t n) { return zt_snprintf(b, n, "in(%p{tag})", v); }},
            {"deeper",
             [](const void *v, char *b, size_t n) { return zt_snprintf(b, n, "d(%p{inner})", v); }},
            {"plain", [](const void *, char *b, size_t n) { return zt_snprintf(b, n, "p%d", 1); }},
            {"via_plain",
             [](const void *v, char *b, size_t n) { return zt_snprintf(b, n, "(%p{plain})", v); }},
            {"clobber_errno",
             [](const void *, char *b, size_t n) { return errno = EIO, snprintf(b, n, "x"); }},
            {"tag", [](const void *, char *b, size_t n) { return snprintf(b, n, "other"); }}};
        for (auto [name, formatter] : formatters)
            ASSERT_EQ(zt_printf_register(name, formatter), ERROR_SUCCESS) << name;
    }
};

TEST_F(PrintfFormat, WritesConversionsLiteralsAndTruncates) {
    static const std::wstring accents(1000, L'\u00e9'), ascii(100, L'a'), fill(2046, L'b');
    const std::string m = errno_text(ENOENT);
    const Case cases[] = {
        CASE("abc12345", "abc%d", 12345), CASE("% 5% k abc%", "%% %5% %k abc%"),
        CASE("1099511627776 -5 6 7 I3d", "%I64d %I32d %Id %qd %I3d", 1LL << 40, -5, size_t{6}, 7LL),
        CASE("two 1 1    1", "%2$s %1$d %1$d %1$4d", 1, "two"),
        // Positional numbers with every kind of value, "%%" between them.
        CASE("b:   -3 3.500 x% 18446744073709551615 ff b",
             "%2$s:%1$5d %3$.3f %4$c%% %5$llu %6$x %2$s", -3, "b", 3.5, 'x', ~0ULL, 255u),
        CASE("    42|42", "%1$*2$d|%1$d", 42, 6),
        CASE("    3.14|-7  |", "%*.*f|%-*d|", 8, 2, 3.14159, 4, -7),
        CASE("(null)|  abc|w\xc3\xa9   |\xe2\x98\xba|", "%ls|%5.3ls|%-6ls|%lc|%lc",
             static_cast<wchar_t *>(nullptr), L"abcdef", L"w\u00e9", 0x263A, 0),
        // Wide texts share one 2048-byte buffer per call.
        CASE(repeated("\xc3\xa9", 1000) + "||ok", "%ls|%ls|%ls", accents.c_str(), ascii.c_str(),
             L"ok"),
        CASE("|" + std::string(2046, 'b') + "|mbsbuffer_exceeded", "%ls|%ls|%lc", L"", fill.c_str(),
             L'z'),
        CASE("[<ab>        ][   <ab>][   <ab]", "[%-12p{tag}][%7p{tag}][%6.3p{tag}]", "ab", "ab",
             "ab"),
        CASE("0x10{nosuch} 0x20{} 0x30{a5}", "%p{nosuch} %p{} %p{a%d}", (void *)0x10, (void *)0x20,
             (void *)0x30, 5),
        CASE("p1 (error:234:recursion_depth < MAX_RECURSIVE_CALLS:)", "%p{plain} %p{via_plain}",
             "v", "v"),
        CASE("in(<q>) d(error:234:recursion_depth < MAX_RECURSIVE_CALLS:)", "%p{inner} %p{deeper}",
             "q", "q"),
        // %m shows errno as it was on entry, also in a positional format.
        CASE(m + "|" + m + std::string(40 - m.size(), ' ') + "|", "%m|%-40m|"),
        CASE("x" + m, "%p{clobber_errno}%m", nullptr),
        CASE("v% " + m + " 7", "%2$s%% %m %1$d", 7, "v"),
        CASE(std::string(128, '%'), repeated("%%", 128).c_str()), // 128 records fit the table
    };
    for (const Case &c : cases) expect_at_every_size(c);
}

TEST_F(PrintfFormat, CountStoresTheFullLengthAtEverySize) {
    expect_at_every_size(
        {"%n",
         [](char *b, size_t n) {
             int full = -1;
             signed char small = -1;
             long long wide = -1;
             const int r = zt_snprintf(b, n, "abcdef%n%hhn%lln|", &full, &small, &wide);
             EXPECT_EQ(std::make_tuple(full, int(small), wide), std::make_tuple(6, 6, 6LL));
             return r;
         },
         "abcdef|"});
}

std::string err(int check, const std::string &text) {
    return "error:" + std::to_string(check) + ":" + text;
}

// A fault found after text that could have been printed already: the error
// text alone reaches the buffer, every byte past it stays as it was.
TEST_F(PrintfFormat, ARejectedFormatTouchesNothingPastItsErrorText) {
    const std::string before(120, '.'); // longer than any error text
    const std::string formats[] = {before + "%d %d %--d", before + "%d %tu", before + "%d %.-3d",
                                   before + "%d %1$d"};
    char warm[8];
    zt_snprintf(warm, sizeof warm, "%d", 1); // the thread's later calls take the direct output
    for (const std::string &format : formats) {
        std::string memory(256, '#');
        zt_snprintf(memory.data(), memory.size(), format.c_str(), 1, 2, 3);
        ASSERT_EQ(memory.rfind("error:", 0), 0u) << format;
        const size_t nul = memory.find('\0');
        EXPECT_EQ(memory.find_first_not_of('#', nul + 1), std::string::npos) << format;
    }
}

TEST_F(PrintfFormat, EveryCheckWritesItsNumberedText) {
    static const std::string full127 = repeated("%%", 127), full128 = repeated("%%", 128);
    const std::string num = "valid_numbering:vararg_number=", len = "valid_length:",
                      spec = "(arg)->cs_len + 1 < MAX_CONVERSION_SPEC_LEN:",
                      flag =
                          "strchr(arg->cs, c) == &arg->cs[arg->cs_len - 1]:duplicate printf flag ",
                      full = "arg_count < MAX_VARARG_COUNT:",
                      gap = "arg != NULL:fmt does not include vararg 1";
    const Case cases[] = {
        CASE(err(268, num + "0"), "%1$d %d", 1, 2),
        CASE(err(268, num + "1"), "%d %1$d", 1, 2),
        CASE(err(268, num + "0"), "%0$d", 1),
        CASE(err(268, num + "128"), "%128$d", 1),
        CASE(err(268, num + "4294967295"), "%-1$d", 1),
        CASE(err(268, num + "0"), "%1$d%.*2$d", 1, 2),
        CASE(err(273, spec), "%1234567890123456d", 1),
        CASE(err(286, flag + "-"), "%--d", 1),
        CASE(err(286, flag + "0"), "%0+0d", 1),
        CASE(err(306, full), (full127 + "%*d").c_str(), 1, 2),
        CASE(err(314, num + "0"), "%1$*d", 1, 2),
        CASE(err(314, num + "1"), "%*1$d", 1, 2),
        CASE(err(314, num + "128"), "%*128$d", 1),
        CASE(err(332, "c != '-':a negative precision is silly"), "%.-3d", 1),
        CASE(err(339, full), (full127 + "%.*d").c_str(), 1, 2),
        CASE(err(347, num + "0"), "%1$.*d", 1, 2),
        CASE(err(426, spec), "%1234567890123hhd", 1),
        CASE(err(512, len), "%Ld", 1),
        CASE(err(512, len), "%tu", 1),
        CASE(err(512, len), "%lf", 1.0),
        CASE(err(512, len), "%hp", nullptr),
        CASE(err(512, len), "%I64c", 1),
        CASE(err(527, "args[i].vararg_number == 0:"), "%1$%"),
        CASE(err(533, "args[i].vararg_number == 0:"), "%1$m"),
        CASE(err(262, full), (full128 + "%d").c_str(), 1),
        CASE(err(604, gap), "%2$d", 1, 2),
        CASE(err(604, gap), "%127$d", 1),
        CASE(err(746, "arg->len == args[i].len:"), "%1$d %1$ld", 1),
        CASE(err(747, "arg->type == args[i].type:"), "%1$d %1$x", 1),
        CASE(err(747, "arg->type == args[i].type:"), "%1$5d %2$s %1$-3x", 1, "s"),
        CASE(err(763, "arg_printed < arg_count:"), "%d %*", 1, 2),
        CASE(err(770, "arg_printed < arg_count:"), "%*.*", 1, 2),
        CASE(err(917, "res >= 0:"), "ab%9999999999d", 1),
        CASE(err(219, "fmt != NULL:"), nullptr),
    };
    for (const Case &c : cases) expect_at_every_size(c);
}

TEST_F(PrintfFormat, WideTargetConvertsOrRefuses) {
    // A terminator follows only when fewer than `capacity` characters were written.
    const std::pair<size_t, ssize_t> cases[] = {{128, 2}, {3, 2}, {2, 2}, {1, -1}, {0, -1}};
    for (auto [capacity, result] : cases) {
        std::vector<wchar_t> buf(capacity + 1, L'#');
        ASSERT_EQ(zt_swprintf(buf.data(), capacity, "%s%d", "", 78), result) << capacity;
        if (result < 0) continue;
        EXPECT_EQ(std::wstring(buf.data(), 2), L"78");
        EXPECT_EQ(buf[2], capacity > 2 ? L'\0' : L'#');
        EXPECT_EQ(buf[capacity], L'#');
    }
    wchar_t out[128];
    EXPECT_EQ(zt_swprintf(out, 64, "%s|%ls", "\xc3\xa9", L"\u263a"), 3);
    EXPECT_EQ(std::wstring(out), L"\u00e9|\u263a");
    // The UTF-8 scratch is cut inside the last character.
    EXPECT_EQ(zt_swprintf(out, 1, "%s", "\xf0\x9f\x98\x80"), -1);
    EXPECT_EQ(zt_swprintf(out, 128, "%--d", 1), 81);
    EXPECT_EQ(std::wstring(out).substr(0, 10), L"error:286:");
}

// The characters placed so that the last one ends where an unreadable page begins; the
// two pages stay mapped for the test's life.
const wchar_t *before_guard_page(const std::wstring &text) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *memory =
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED || mprotect(static_cast<char *>(memory) + page, page, PROT_NONE) != 0)
        return nullptr;
    auto *end = reinterpret_cast<wchar_t *>(static_cast<char *>(memory) + page);
    return wmemcpy(end - text.size(), text.data(), text.size());
}

// A precision bounds what a wide conversion reads: the array needs no terminator.
TEST_F(PrintfFormat, PrecisionBoundsTheWideTextRead) {
    static const wchar_t *w;                  // the cases' calls take no captures
    w = before_guard_page(L"ab\u00e9\u263a"); // 1 + 1 + 2 + 3 bytes, no terminator
    ASSERT_NE(w, nullptr);
    const Case cases[] = {
        CASE("ab\xc3\xa9\xe2\x98\xba|", "%.7ls|", w),
        CASE("ab\xc3\xa9\xe2|", "%.5ls|", w),
        CASE("  ab|a", "%4.2ls|%.1ls", w, w),
        CASE("ab\xc3\xa9|", "%.*ls|", 4, w),
        CASE("ab\xc3\xa9\xe2\x98\xba ab", "%1$.*2$ls %1$.2ls", w, 7),
        CASE("|", "%.0ls|", w),
    };
    for (const Case &c : cases) expect_at_every_size(c);
}

TEST(PrintfRegistry, RefusesBadRegistrationsAndKeepsTheFirst) {
    const std::tuple<const char *, zt_printf_cb, error_code_t> cases[] = {
        {"nineteen_characters", tag, ERROR_SUCCESS},
        {"twenty_characters_xx", tag, ERROR_INVALID_ARGUMENT},
        {"", tag, ERROR_INVALID_ARGUMENT},
        {nullptr, tag, ERROR_INVALID_ARGUMENT},
        {"no_formatter", nullptr, ERROR_INVALID_ARGUMENT},
    };
    for (auto [name, formatter, result] : cases)
        EXPECT_EQ(zt_printf_register(name, formatter), result) << (name ? name : "null");
    char buf[64];
    zt_snprintf(buf, sizeof buf, "%p{nineteen_characters}|%p{no_formatter}", "v", (void *)0x1);
    EXPECT_STREQ(buf, "<v>|0x1{no_formatter}");
    zt_snprintf(buf, sizeof buf, "%p{twenty_characters_xx}", (void *)0x1);
    EXPECT_STREQ(buf, "0x1{twenty_characters_xx}");
}

} // namespace
