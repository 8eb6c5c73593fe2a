// The direct output: most formats are literal text and plain conversions, and
// for those the engine's tables, parse and per-thread memory change nothing.
// This reads the format once, printing as it goes, and gives up (-1) at the
// first thing it does not serve exactly as the general path would print it:
// a positional number, `*`, a flag given twice, a long specification, a length
// or letter the general path rejects or serves otherwise, a format ending
// inside a conversion. The caller then runs the general path from the start
// on its own copy of the arguments, which rewrites the buffer.
#include <bit>
#include <climits>

#include "base/ztc/os/printf_internal.h"
#include "base/ztc/os/printf_writers.h"

namespace ztc::printf_engine {
namespace {

constexpr int GIVE_UP = -1;

// From this many conversions on, printing from a remembered parse is quicker
// than reading the format again.
constexpr int REMEMBERED_PARSE_QUICKER = 4;

// Literal runs up to this long are scanned byte by byte: a call of the
// library's search costs more.
constexpr int SHORT_TEXT = 8;

// More characters after "%" than this may reach the general path's limit on
// a specification's length; such rare conversions are left to it.
constexpr int MAX_DIRECT_SPEC_CHARS = 12;
// Beyond this many digits a width or precision is left to the C library.
constexpr int MAX_NUMBER_DIGITS = 9;

constexpr uint8_t flag_bit(char c) {
    switch (c) {
    case '-':
        return FLAG_MINUS;
    case '+':
        return FLAG_PLUS;
    case ' ':
        return FLAG_SPACE;
    case '#':
        return FLAG_HASH;
    case '0':
        return FLAG_ZERO;
    default:
        return 0;
    }
}

constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads up to MAX_NUMBER_DIGITS decimal digits; false when there are more.
template <class T>
bool read_number(const char *&p, T &number) {
    number = 0;
    for (int digits = 0; is_digit(*p); ++p) {
        if (++digits > MAX_NUMBER_DIGITS) return false;
        number = static_cast<T>(number * 10 + static_cast<T>(*p - '0'));
    }
    return true;
}

// Reads the length letters at p: h hh l ll z j t. Anything else is none.
int read_length(const char *&p) {
    switch (*p) {
    case 'h':
        if (p[1] == 'h') {
            p += 2;
            return ZT_PRINTF_LEN_HH;
        }
        ++p;
        return ZT_PRINTF_LEN_H;
    case 'l':
        if (p[1] == 'l') {
            p += 2;
            return ZT_PRINTF_LEN_LL;
        }
        ++p;
        return ZT_PRINTF_LEN_L;
    case 'z':
        ++p;
        return ZT_PRINTF_LEN_Z;
    case 'j':
        ++p;
        return ZT_PRINTF_LEN_J;
    case 't':
        ++p;
        return ZT_PRINTF_LEN_T;
    default:
        return ZT_PRINTF_LEN_NONE;
    }
}

// The digits of a plain x or X, in place where they fit.
void put_hex(Sink &out, unsigned long long value, const char *letters) {
    const size_t length = static_cast<size_t>(std::bit_width(value | 1) + 3) / 4;
    char buffer[16];
    char *at = out.claim(length);
    const bool in_place = at != nullptr;
    if (!in_place) at = buffer;
    char *end = at + length;
    do {
        *--end = letters[value & 15];
        value >>= 4;
    } while (value != 0);
    if (!in_place) out.put(buffer, length);
}

// One conversion starting just after its "%"; p is left after it. False where
// the general path must serve it.
bool convert(Sink &out, const char *&p, va_list ap) {
    const char *const start = p;
    Piece piece;
    while (const uint8_t bit = flag_bit(*p)) {
        if (piece.flags & bit) return false;
        piece.flags |= bit;
        ++p;
    }
    if (!read_number(p, piece.width)) return false;
    if (*p == '.') {
        ++p;
        if (!read_number(p, piece.precision)) return false;
    }
    const int len = read_length(p);
    piece.letter = *p++;
    if (p - start > MAX_DIRECT_SPEC_CHARS) return false;
    piece.own = true;
    piece.plain = piece.flags == 0 && piece.width == 0 && piece.precision < 0;

    switch (piece.letter) {
    case 'd':
    case 'i':
        if (reads_64_bits(len)) {
            const long long value = va_arg(ap, long long);
            if (piece.plain) {
                const unsigned long long magnitude = static_cast<unsigned long long>(value);
                put_decimal(out, value < 0 ? 0 - magnitude : magnitude, value < 0);
            } else {
                write_integer(out, piece, value, len);
            }
        } else {
            const int value = va_arg(ap, int);
            if (piece.plain && len == ZT_PRINTF_LEN_NONE) {
                const unsigned magnitude = static_cast<unsigned>(value);
                put_decimal(out, value < 0 ? 0 - magnitude : magnitude, value < 0);
            } else {
                write_integer(out, piece, value, len);
            }
        }
        return true;
    case 'o':
    case 'u':
    case 'x':
    case 'X': {
        // "t" is no length of an unsigned conversion: the general path rejects it.
        if (len == ZT_PRINTF_LEN_T) return false;
        unsigned long long magnitude;
        if (reads_64_bits(len)) {
            const long long value = va_arg(ap, long long);
            if (!piece.plain || piece.letter == 'o') {
                write_integer(out, piece, value, len);
                return true;
            }
            magnitude = static_cast<unsigned long long>(value);
        } else {
            const int value = va_arg(ap, int);
            if (!piece.plain || piece.letter == 'o' || len != ZT_PRINTF_LEN_NONE) {
                write_integer(out, piece, value, len);
                return true;
            }
            magnitude = static_cast<unsigned>(value);
        }
        if (piece.letter == 'u') {
            put_decimal(out, magnitude, false);
        } else {
            put_hex(out, magnitude, piece.letter == 'x' ? "0123456789abcdef" : "0123456789ABCDEF");
        }
        return true;
    }
    case 's':
        if (len != ZT_PRINTF_LEN_NONE) return false;
        write_text(out, piece, va_arg(ap, const char *));
        return true;
    case 'c':
        if (len != ZT_PRINTF_LEN_NONE) return false;
        write_char(out, piece, va_arg(ap, int));
        return true;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        if (len != ZT_PRINTF_LEN_NONE) return false;
        return write_real(out, piece, va_arg(ap, double));
    default:
        return false;
    }
}

} // namespace

int render_direct(char *buf, size_t size, const char *fmt, const Frame &frame, va_list ap,
                  bool &general_first) {
    general_first = true;
    Sink out{buf, size};
    put_frame_text(out, frame.before);
    const char *p = fmt;
    // Every "%" starts a record of the general path's table, whose size is limited.
    int records = 0;
    for (;;) {
        // Text up to the next "%": a short run is looked at here, a long one
        // is left to the library's vectorised search.
        const char *text = p;
        for (int i = 0; i < SHORT_TEXT && *p != '%' && *p != '\0'; ++i) ++p;
        if (*p != '%' && *p != '\0') p = strchrnul(p, '%');
        out.put(text, static_cast<size_t>(p - text));
        if (*p == '\0') break;
        if (++records >= MAX_VARARG_COUNT) return GIVE_UP;
        ++p;
        if (*p == '%') {
            out.put(p, 1);
            ++p;
            continue;
        }
        if (!convert(out, p, ap)) return GIVE_UP;
        // The result is an int: the general path reports a longer output.
        if (out.count > INT_MAX) return GIVE_UP;
    }
    out.put(frame.after.data(), frame.after.size());
    if (out.count > INT_MAX) return GIVE_UP;
    general_first = records >= REMEMBERED_PARSE_QUICKER &&
                    static_cast<size_t>(p - fmt) < CACHED_FORMAT_SIZE && records <= CACHED_RECORDS;
    if (out.count < size) {
        buf[out.count] = '\0';
    } else if (size != 0) {
        buf[size - 1] = '\0';
    }
    return static_cast<int>(out.count);
}

} // namespace ztc::printf_engine
