// Checks the UTF-8 decoder and encoder against a plain reference and each other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/ztc/os/path.h"

namespace {

// Reference decoding of one sequence at s (n bytes left): its length and value,
// or 0 when it is not well-formed, -1 when it is cut short.
int reference_decode(const uint8_t *s, size_t n, uint32_t *value) {
    const uint8_t b = s[0];
    int len = b < 0x80   ? 1
              : b < 0xC0 ? 1
              : b < 0xE0 ? 2
              : b < 0xF0 ? 3
              : b < 0xF8 ? 4
              : b < 0xFC ? 5
                         : 6;
    if (n < static_cast<size_t>(len)) return -1;
    if (b >= 0x80 && b < 0xC0) return 0;
    if (len > 4) return 0;
    uint32_t v = len == 1 ? b : b & (0x7F >> len);
    for (int i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (s[i] & 0x3F);
    }
    static constexpr uint32_t min_value[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < min_value[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *value = v;
    return len;
}

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Decode with a target one smaller than the input, so both stops are reached.
    const size_t room = size / 2 + 1;
    std::vector<wchar_t> out(room);
    const char *src = reinterpret_cast<const char *>(data);
    wchar_t *dst = out.data();
    const int r = zt_utf8_to_utf32(&src, src + size, &dst, out.data() + room, ZT_UTF_LENIENT);

    size_t pos = 0, chars = 0;
    int expect = ZT_UTF_OK;
    while (pos < size) {
        uint32_t v = 0;
        const int len = reference_decode(data + pos, size - pos, &v);
        if (len < 0) {
            expect = ZT_UTF_TRUNCATED;
            break;
        }
        if (len == 0) {
            expect = ZT_UTF_INVALID;
            break;
        }
        if (chars == room) {
            expect = ZT_UTF_NO_ROOM;
            break;
        }
        check(static_cast<uint32_t>(out[chars]) == v);
        ++chars;
        pos += static_cast<size_t>(len);
    }
    check(r == expect);
    check(src == reinterpret_cast<const char *>(data) + pos);
    check(dst == out.data() + chars);

    // Re-encoding the decoded characters gives back the bytes they came from.
    std::vector<char> again(4 * chars + 1);
    const wchar_t *wsrc = out.data();
    char *adst = again.data();
    check(zt_utf32_to_utf8(&wsrc, out.data() + chars, &adst, again.data() + again.size(),
                           ZT_UTF_STRICT) == ZT_UTF_OK);
    check(static_cast<size_t>(adst - again.data()) == pos);
    check(pos == 0 || std::memcmp(again.data(), data, pos) == 0);

    // The input read as 32-bit units: the encoder never overruns and replaces only
    // what is above U+10FFFF.
    const size_t units = size / 4;
    std::vector<wchar_t> wide(units);
    if (units != 0) std::memcpy(wide.data(), data, units * 4);
    std::vector<char> enc(units * 2 + 1);
    wsrc = wide.data();
    adst = enc.data();
    const int er = zt_utf32_to_utf8(&wsrc, wide.data() + units, &adst, enc.data() + enc.size(),
                                    ZT_UTF_LENIENT);
    check(er == ZT_UTF_OK || er == ZT_UTF_INVALID || er == ZT_UTF_NO_ROOM);
    check(adst >= enc.data() && adst <= enc.data() + enc.size());
    return 0;
}
