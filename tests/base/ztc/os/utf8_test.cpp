#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/ztc/os/path.h"

namespace {

// Well-formed UTF-8 byte sequences, written out row by row from the Unicode
// Standard's table, independent of the decoder's own rules.
struct wf_row {
    uint8_t lo[4], hi[4];
    int len;
};
constexpr wf_row well_formed_rows[] = {
    {{0x00}, {0x7F}, 1},
    {{0xC2, 0x80}, {0xDF, 0xBF}, 2},
    {{0xE0, 0xA0, 0x80}, {0xE0, 0xBF, 0xBF}, 3},
    {{0xE1, 0x80, 0x80}, {0xEC, 0xBF, 0xBF}, 3},
    {{0xED, 0x80, 0x80}, {0xED, 0x9F, 0xBF}, 3},
    {{0xEE, 0x80, 0x80}, {0xEF, 0xBF, 0xBF}, 3},
    {{0xF0, 0x90, 0x80, 0x80}, {0xF0, 0xBF, 0xBF, 0xBF}, 4},
    {{0xF1, 0x80, 0x80, 0x80}, {0xF3, 0xBF, 0xBF, 0xBF}, 4},
    {{0xF4, 0x80, 0x80, 0x80}, {0xF4, 0x8F, 0xBF, 0xBF}, 4},
};

bool is_well_formed(const uint8_t *s, int len) {
    for (const auto &row : well_formed_rows) {
        if (row.len != len) continue;
        bool in = true;
        for (int i = 0; i < len && in; ++i) in = s[i] >= row.lo[i] && s[i] <= row.hi[i];
        if (in) return true;
    }
    return false;
}

uint32_t reference_value(const uint8_t *s, int len) {
    static constexpr uint8_t lead_mask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t v = s[0] & lead_mask[len];
    for (int i = 1; i < len; ++i) v = (v << 6) | (s[i] & 0x3F);
    return v;
}

struct decoded {
    int result;
    size_t consumed;
    std::vector<wchar_t> chars;
};

decoded decode(const std::string &bytes, size_t room = 8) {
    std::vector<wchar_t> out(room);
    const char *s = bytes.data();
    wchar_t *d = out.data();
    int r =
        zt_utf8_to_utf32(&s, bytes.data() + bytes.size(), &d, out.data() + room, ZT_UTF_LENIENT);
    out.resize(static_cast<size_t>(d - out.data()));
    return {r, static_cast<size_t>(s - bytes.data()), out};
}

// Every sequence of a given length (with the given lead bytes) is accepted as exactly
// one character if and only if the reference table calls it well-formed.
void check_all_sequences(int len, int lead_lo, int lead_hi) {
    uint8_t buf[4];
    const uint32_t tails = 1u << (8 * (len - 1));
    long accepted = 0, mismatches = 0;
    for (int lead = lead_lo; lead <= lead_hi; ++lead) {
        for (uint32_t tail = 0; tail < tails; ++tail) {
            buf[0] = static_cast<uint8_t>(lead);
            for (int i = 1; i < len; ++i)
                buf[i] = static_cast<uint8_t>(tail >> (8 * (len - 1 - i)));
            const char *s = reinterpret_cast<const char *>(buf);
            wchar_t out[1];
            wchar_t *d = out;
            int r = zt_utf8_to_utf32(&s, s + len, &d, out + 1, ZT_UTF_STRICT);
            const bool one_char =
                r == ZT_UTF_OK && d == out + 1 && s == reinterpret_cast<const char *>(buf) + len;
            const bool expected = is_well_formed(buf, len);
            mismatches += one_char != expected ||
                          (expected && static_cast<uint32_t>(out[0]) != reference_value(buf, len));
            accepted += one_char;
        }
    }
    EXPECT_EQ(mismatches, 0) << "sequences of length " << len;
    EXPECT_GT(accepted, 0);
}

TEST(Utf8Decoder, ClassifiesEveryShortSequenceLikeTheStandard) {
    check_all_sequences(1, 0x00, 0xFF);
    check_all_sequences(2, 0x00, 0xFF);
    check_all_sequences(3, 0x00, 0xFF);
}

TEST(Utf8Decoder, ClassifiesEveryFourByteSequenceLikeTheStandard) {
    check_all_sequences(4, 0xF0, 0xF4);
}

TEST(Utf8RoundTrip, EveryScalarValueSurvivesEncodeAndDecode) {
    char buf[4];
    for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
        const wchar_t wc = static_cast<wchar_t>(c);
        const wchar_t *s = &wc;
        char *d = buf;
        const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
        int r = zt_utf32_to_utf8(&s, &wc + 1, &d, buf + 4, ZT_UTF_STRICT);
        if (surrogate) {
            ASSERT_EQ(r, ZT_UTF_INVALID) << c;
            ASSERT_EQ(d, buf);
            // Lenient mode encodes it, and the decoder still refuses it.
            s = &wc;
            ASSERT_EQ(zt_utf32_to_utf8(&s, &wc + 1, &d, buf + 4, ZT_UTF_LENIENT), ZT_UTF_OK);
            ASSERT_EQ(decode(std::string(buf, d)).result, ZT_UTF_INVALID) << c;
            continue;
        }
        ASSERT_EQ(r, ZT_UTF_OK) << c;
        const int expected_len = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        ASSERT_EQ(d - buf, expected_len) << c;
        decoded back = decode(std::string(buf, d));
        ASSERT_EQ(back.result, ZT_UTF_OK) << c;
        ASSERT_EQ(back.chars.size(), 1u);
        ASSERT_EQ(static_cast<uint32_t>(back.chars[0]), c);
    }
}

struct encode_case {
    std::vector<uint32_t> in;
    int mode;
    size_t room;
    std::string out;
    int result;
    size_t consumed;
};

TEST(Utf8Encoder, Cases) {
    const encode_case cases[] = {
        {{0xE9}, ZT_UTF_STRICT, 8, "\xC3\xA9", ZT_UTF_OK, 1},
        {{0x20AC}, ZT_UTF_STRICT, 8, "\xE2\x82\xAC", ZT_UTF_OK, 1},
        {{0x1F600}, ZT_UTF_STRICT, 8, "\xF0\x9F\x98\x80", ZT_UTF_OK, 1},
        {{0x110000, 'a'},
         ZT_UTF_STRICT,
         8,
         "\xEF\xBF\xBD"
         "a",
         ZT_UTF_INVALID,
         2},
        {{0xFFFFFFFF}, ZT_UTF_LENIENT, 8, "\xEF\xBF\xBD", ZT_UTF_INVALID, 1},
        {{'x', 0xD800}, ZT_UTF_STRICT, 8, "x", ZT_UTF_INVALID, 1},
        {{0xD800}, ZT_UTF_LENIENT, 8, "\xED\xA0\x80", ZT_UTF_OK, 1},
        {{'a', 0xE9}, ZT_UTF_STRICT, 2, "a", ZT_UTF_NO_ROOM, 1},
        // Running out of room wins over an earlier replacement.
        {{0x110000, 0x20AC}, ZT_UTF_STRICT, 5, "\xEF\xBF\xBD", ZT_UTF_NO_ROOM, 1},
        {{}, ZT_UTF_STRICT, 0, "", ZT_UTF_OK, 0},
    };
    for (const auto &c : cases) {
        std::vector<wchar_t> in(c.in.begin(), c.in.end());
        std::string buf(c.room + 1, '#');
        const wchar_t *s = in.data();
        char *d = buf.data();
        int r = zt_utf32_to_utf8(&s, in.data() + in.size(), &d, buf.data() + c.room, c.mode);
        EXPECT_EQ(r, c.result) << c.out;
        EXPECT_EQ(std::string(buf.data(), d), c.out);
        EXPECT_EQ(static_cast<size_t>(s - in.data()), c.consumed) << c.out;
        EXPECT_EQ(buf[c.room], '#') << "wrote past the target end";
    }
}

struct decode_case {
    std::string in;
    int result;
    std::vector<uint32_t> out;
    size_t consumed;
    size_t room = 8;
};

// Results and stop positions; which sequences are accepted is checked exhaustively above.
TEST(Utf8Decoder, Cases) {
    const decode_case cases[] = {
        {"\xF0\x90\x80\x80", ZT_UTF_OK, {0x10000}, 4},
        {"\xF4\x8F\xBF\xBF", ZT_UTF_OK, {0x10FFFF}, 4},
        {"a\xC0\x80", ZT_UTF_INVALID, {'a'}, 1},
        {"\xED\xA0\x80", ZT_UTF_INVALID, {}, 0},
        {"\xF5\x80\x80\x80", ZT_UTF_INVALID, {}, 0},
        {"\x80", ZT_UTF_INVALID, {}, 0},
        {"\xF8\x88\x80\x80\x80", ZT_UTF_INVALID, {}, 0},
        // Truncation is tested before validity.
        {"z\xC3", ZT_UTF_TRUNCATED, {'z'}, 1},
        {"\xE2\x82", ZT_UTF_TRUNCATED, {}, 0},
        {"\xE0\x41", ZT_UTF_TRUNCATED, {}, 0},
        {"\xFC\x80\x80", ZT_UTF_TRUNCATED, {}, 0},
        // Without room it stops at the lead byte.
        {"ab\xC3\xA9", ZT_UTF_NO_ROOM, {'a', 'b'}, 2, 2},
    };
    for (const auto &c : cases) {
        decoded d = decode(c.in, c.room);
        EXPECT_EQ(d.result, c.result) << testing::PrintToString(c.in);
        EXPECT_EQ(std::vector<uint32_t>(d.chars.begin(), d.chars.end()), c.out);
        EXPECT_EQ(d.consumed, c.consumed) << testing::PrintToString(c.in);
    }
}

TEST(WideUtf8Texts, TerminatorOnlyWhenThereIsRoom) {
    char buf[8];
    std::fill(std::begin(buf), std::end(buf), '#');
    EXPECT_EQ(zt_wcs_to_utf8(buf, L"h\u00e9", 4), 3u);
    EXPECT_STREQ(buf, "h\xC3\xA9");
    std::fill(std::begin(buf), std::end(buf), '#');
    EXPECT_EQ(zt_wcs_to_utf8(buf, L"h\u00e9", 3), 3u);
    EXPECT_EQ(buf[3], '#') << "an exact fit gets no terminator";
    EXPECT_EQ(zt_wcs_to_utf8(buf, L"h\u00e9", 2), ZT_UTF_ERROR);
    const wchar_t too_big[] = {static_cast<wchar_t>(0x110000), 0};
    EXPECT_EQ(zt_wcs_to_utf8(buf, too_big, sizeof buf), ZT_UTF_ERROR);
    EXPECT_EQ(zt_wcs_to_utf8(nullptr, L"", 0), 0u);

    wchar_t wide[4];
    std::fill(std::begin(wide), std::end(wide), L'#');
    EXPECT_EQ(zt_utf8_to_wcs(wide, "h\xC3\xA9", 4), 2u);
    EXPECT_EQ(std::wstring(wide), L"h\u00e9");
    std::fill(std::begin(wide), std::end(wide), L'#');
    EXPECT_EQ(zt_utf8_to_wcs(wide, "abc", 3), 3u);
    EXPECT_EQ(wide[3], L'#');
    EXPECT_EQ(zt_utf8_to_wcs(wide, "abcd", 3), ZT_UTF_ERROR);
    EXPECT_EQ(zt_utf8_to_wcs(wide, "a\xC3", 4), ZT_UTF_ERROR);
    EXPECT_EQ(zt_utf8_to_wcs(wide, "a\xFF", 4), ZT_UTF_ERROR);
    EXPECT_EQ(wide[0], L'a') << "what was decoded before the stop stays";
    EXPECT_EQ(zt_utf8_to_wcs(wide, nullptr, 4), ZT_UTF_ERROR);
}

} // namespace
