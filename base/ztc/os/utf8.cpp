// UTF-32 <-> UTF-8 conversion. The decoder accepts exactly the well-formed
// UTF-8 byte sequences; the encoder never writes a partial character.
#include <array>
#include <cstdint>
#include <cwchar>

#include "base/ztc/os/path.h"

namespace {

// Continuation bytes announced by each lead byte.
constexpr std::array<uint8_t, 256> continuation_count = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = b < 0xC0 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
    return t;
}();

// Lead and continuation markers of a sequence of each length, summed at their places.
constexpr std::array<uint32_t, 5> decode_offset = {0, 0, 0x3080, 0xE2080, 0x3C82080};
constexpr std::array<uint8_t, 5> lead_marker = {0, 0x00, 0xC0, 0xE0, 0xF0};

struct byte_range {
    uint8_t lo, hi;
    bool holds(uint8_t b) const { return b >= lo && b <= hi; }
};

// Allowed second byte after a lead byte; excludes overlong forms, surrogates and
// values above U+10FFFF.
constexpr byte_range second_byte_range(uint8_t lead) {
    switch (lead) {
    case 0xE0:
        return {0xA0, 0xBF};
    case 0xED:
        return {0x80, 0x9F};
    case 0xF0:
        return {0x90, 0xBF};
    case 0xF4:
        return {0x80, 0x8F};
    default:
        return {0x80, 0xBF};
    }
}

bool well_formed(const uint8_t *s, int len) {
    const uint8_t lead = s[0];
    if (len > 4 || (lead >= 0x80 && lead <= 0xC1) || lead > 0xF4) return false;
    constexpr byte_range continuation{0x80, 0xBF};
    if (len >= 2 && !second_byte_range(lead).holds(s[1])) return false;
    if (len >= 3 && !continuation.holds(s[2])) return false;
    if (len == 4 && !continuation.holds(s[3])) return false;
    return true;
}

int utf8_length(uint32_t c) {
    return c <= 0x7F ? 1 : c <= 0x7FF ? 2 : c <= 0xFFFF ? 3 : 4;
}

} // namespace

extern "C" int zt_utf32_to_utf8(const wchar_t **src, const wchar_t *src_end, char **dst,
                                char *dst_end, int mode) {
    const wchar_t *s = *src;
    char *d = *dst;
    int result = ZT_UTF_OK;
    for (; s < src_end; ++s) {
        uint32_t c = static_cast<uint32_t>(*s);
        if (c < 0x80) {
            if (d == dst_end) {
                result = ZT_UTF_NO_ROOM;
                break;
            }
            *d++ = static_cast<char>(c);
            continue;
        }
        if (mode == ZT_UTF_STRICT && c >= 0xD800 && c <= 0xDFFF) {
            result = ZT_UTF_INVALID;
            break;
        }
        if (c > 0x10FFFF) {
            c = 0xFFFD;
            result = ZT_UTF_INVALID;
        }
        const int len = utf8_length(c);
        if (dst_end - d < len) {
            result = ZT_UTF_NO_ROOM;
            break;
        }
        int shift = 6 * (len - 1);
        *d++ = static_cast<char>(lead_marker[len] | (c >> shift));
        while (shift > 0) {
            shift -= 6;
            *d++ = static_cast<char>(0x80 | ((c >> shift) & 0x3F));
        }
    }
    *src = s;
    *dst = d;
    return result;
}

extern "C" int zt_utf8_to_utf32(const char **src, const char *src_end, wchar_t **dst,
                                wchar_t *dst_end, int /*mode: surrogates are always rejected*/) {
    const auto *s = reinterpret_cast<const uint8_t *>(*src);
    const auto *end = reinterpret_cast<const uint8_t *>(src_end);
    wchar_t *d = *dst;
    int result = ZT_UTF_OK;
    while (s < end) {
        if (*s < 0x80) { // most path text is ASCII
            if (d >= dst_end) {
                result = ZT_UTF_NO_ROOM;
                break;
            }
            *d++ = *s++;
            continue;
        }
        const int len = continuation_count[*s] + 1;
        if (end - s < len) {
            result = ZT_UTF_TRUNCATED;
            break;
        }
        if (!well_formed(s, len)) {
            result = ZT_UTF_INVALID;
            break;
        }
        uint32_t value = 0;
        for (int i = 0; i < len; ++i) value = (value << 6) + s[i];
        value -= decode_offset[len];
        if (d >= dst_end) {
            result = ZT_UTF_NO_ROOM;
            break;
        }
        *d++ = static_cast<wchar_t>(value);
        s += len;
    }
    *src = reinterpret_cast<const char *>(s);
    *dst = d;
    return result;
}

extern "C" size_t zt_wcs_to_utf8(char *out, const wchar_t *text, size_t size) {
    if (text == nullptr || (out == nullptr && size != 0)) return ZT_UTF_ERROR;
    const wchar_t *s = text;
    char *d = out;
    if (zt_utf32_to_utf8(&s, text + std::wcslen(text), &d, out + size, ZT_UTF_LENIENT) != ZT_UTF_OK)
        return ZT_UTF_ERROR;
    const auto written = static_cast<size_t>(d - out);
    if (written < size) out[written] = '\0';
    return written;
}

extern "C" size_t zt_utf8_to_wcs(wchar_t *out, const char *utf8, size_t capacity) {
    if (utf8 == nullptr || (out == nullptr && capacity != 0)) return ZT_UTF_ERROR;
    const char *s = utf8;
    wchar_t *d = out;
    const char *end = utf8;
    while (*end != '\0') ++end;
    if (zt_utf8_to_utf32(&s, end, &d, out + capacity, ZT_UTF_LENIENT) != ZT_UTF_OK)
        return ZT_UTF_ERROR;
    const auto written = static_cast<size_t>(d - out);
    if (written < capacity) out[written] = L'\0';
    return written;
}
