// The formatting engine on formats drawn from the input. The alphabet holds only
// conversions that read integers (or nothing), and every call passes more integer
// arguments than any format can number, so every accepted format is safe to run.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/internal.hpp"

namespace {

constexpr char alphabet[] = "%%%%%%%%ddiuxXoc%0123456789-+ #.*$$hhlljztIq64L3m%{}%abc/";

#define ZT_ARGS8(b) b + 1, b + 2, b + 3, b + 4, b + 5, b + 6, b + 7, b + 8
#define ZT_ARGS64(b)                                                                               \
    ZT_ARGS8(b), ZT_ARGS8(b + 8), ZT_ARGS8(b + 16), ZT_ARGS8(b + 24), ZT_ARGS8(b + 32),            \
        ZT_ARGS8(b + 40), ZT_ARGS8(b + 48), ZT_ARGS8(b + 56)

// Which way a call goes: the engine as callers see it, its direct output
// alone (-1 where it gives up), or its general path alone.
enum class Way { engine, direct, general };

int run(Way way, char *buf, size_t size, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    bool general_first = false;
    const int result =
        way == Way::engine ? zt_vsprintf(buf, size, fmt, ap)
        : way == Way::direct
            ? ztc::printf_engine::render_direct(buf, size, fmt, nullptr, ap, general_first)
            : ztc::printf_engine::vsprintf_general(buf, size, fmt, ap);
    va_end(ap);
    return result;
}

int format(char *buf, size_t size, const char *fmt, Way way = Way::engine) {
    // 64-bit arguments: reading one as int takes its low half on this platform.
    const int64_t b = -70;
    return run(way, buf, size, fmt, ZT_ARGS64(b), ZT_ARGS64(b + 64), ZT_ARGS8(b + 128));
}

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    std::string fmt;
    int digits = 0;
    for (size_t i = 1; i < size && fmt.size() < 200; ++i) {
        const char c = static_cast<char>(data[i]);
        char next =
            c != '\0' && std::strchr(alphabet, c) ? c : alphabet[data[i] % (sizeof alphabet - 1)];
        // Widths of at most four digits keep each run quick.
        digits = next >= '0' && next <= '9' ? digits + 1 : 0;
        if (digits > 4) next = 'd', digits = 0;
        fmt += next;
    }

    errno = 2;
    const int full = format(nullptr, 0, fmt.c_str());
    check(full >= 0);
    if (full > (1 << 20)) return 0;
    std::vector<char> whole(static_cast<size_t>(full) + 1);
    errno = 2;
    const int again = format(whole.data(), whole.size(), fmt.c_str());
    // Only a rejected format can start so: the alphabet holds no 'e' or 'r'. Its
    // error text reports the header length while only the header fits.
    const bool rejected = std::strncmp(whole.data(), "error:", 6) == 0;
    // "%c" of a zero value writes a NUL inside the text, so lengths come from the
    // results; an error text holds no NUL of its own.
    const size_t length = rejected ? std::strlen(whole.data()) : static_cast<size_t>(full);
    if (!rejected) check(again == full);
    check(whole[length] == '\0' && length <= static_cast<size_t>(std::max(full, again)));

    // A smaller buffer with guard bytes on both sides.
    const size_t small = data[0] % (static_cast<size_t>(full) + 2);
    std::vector<char> guarded(small + 32, '\x5A');
    char *buf = guarded.data() + 16;
    errno = 2;
    const int cut = format(small ? buf : nullptr, small, fmt.c_str());
    for (size_t i = 0; i < 16; ++i) check(guarded[i] == '\x5A' && buf[small + i] == '\x5A');
    if (small > 0) {
        // The cut text is the start of the whole one, terminated inside the buffer.
        const size_t kept = rejected ? std::strlen(buf) : std::min(small - 1, length);
        check(kept < small && buf[kept] == '\0');
        check(std::memcmp(buf, whole.data(), std::min(kept, length)) == 0);
    }
    if (!rejected) check(cut == full);

    // The direct output, where it serves the format, prints the general path's
    // bytes; where it gives up, the general path run after it leaves what it
    // leaves alone, and a format the general path rejects was never printed.
    std::vector<char> direct(guarded.size(), '\x5A'), general(direct);
    const int by_general =
        format(small ? general.data() + 16 : nullptr, small, fmt.c_str(), Way::general);
    const int by_direct =
        format(small ? direct.data() + 16 : nullptr, small, fmt.c_str(), Way::direct);
    if (by_direct < 0) {
        if (rejected)
            check(std::all_of(direct.begin(), direct.end(), [](char c) { return c == '\x5A'; }));
        check(format(small ? direct.data() + 16 : nullptr, small, fmt.c_str(), Way::general) ==
              by_general);
    } else {
        check(by_direct == by_general);
    }
    check(direct == general && by_general == cut);
    return 0;
}
