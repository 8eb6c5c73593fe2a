// The direct output: most formats are literal text and plain conversions, and
// for those the engine's tables, parse and per-thread memory change nothing.
// This reads the format's conversions into a small local list, then prints
// the text and conversions straight into the buffer. It gives up (-1) before
// printing anything where the general path must serve or report the format:
// a positional number, `*`, a flag given twice, a long specification, a length
// or letter the general path rejects or serves otherwise, a format ending
// inside a conversion, too many conversions. While printing it gives up only
// where the general path prints the same text (a real too long for the own
// writer) or reports an output an int cannot count. The caller then runs the
// general path from the start on its own copy of the arguments.
#include <array>
#include <bit>
#include <climits>

#include "base/ztc/os/printf/internal.hpp"
#include "base/ztc/os/printf/writers.hpp"

namespace ztc::printf_engine {
namespace {

constexpr int GIVE_UP = -1;

// Formats of more conversions are left to the general path.
constexpr int MAX_DIRECT_SPECS = 12;
static_assert(MAX_DIRECT_SPECS <= CACHED_RECORDS);
// Widths and precisions adding up to more than this could make an output
// longer than an int can count.
constexpr uint64_t MAX_DIRECT_WIDTHS = 1u << 30;

// From this many conversions on, printing from a remembered parse is quicker
// than reading the format again.
constexpr int REMEMBERED_PARSE_QUICKER = 4;

// Literal runs up to this long are scanned byte by byte: a call of the
// library's search costs more.
constexpr int SHORT_TEXT = 8;

// More characters after "%" than this may reach the general path's limit on
// a specification's length; such rare conversions are left to it.
constexpr int MAX_DIRECT_SPEC_CHARS = 12;
constexpr unsigned length_bit(int code) {
    return 1u << code;
}

// Letter -> the length codes with which this output serves it (0: none).
constexpr std::array<uint16_t, 256> served_lengths = [] {
    constexpr unsigned integer = length_bit(ZT_PRINTF_LEN_NONE) | length_bit(ZT_PRINTF_LEN_H) |
                                 length_bit(ZT_PRINTF_LEN_HH) | length_bit(ZT_PRINTF_LEN_L) |
                                 length_bit(ZT_PRINTF_LEN_LL) | length_bit(ZT_PRINTF_LEN_J) |
                                 length_bit(ZT_PRINTF_LEN_Z) | length_bit(ZT_PRINTF_LEN_T);
    std::array<uint16_t, 256> lengths{};
    for (char c : {'d', 'i'}) lengths[static_cast<unsigned char>(c)] = integer;
    // "t" is no length of an unsigned conversion: the general path rejects it.
    for (char c : {'o', 'u', 'x', 'X'})
        lengths[static_cast<unsigned char>(c)] = integer & ~length_bit(ZT_PRINTF_LEN_T);
    for (char c : {'s', 'c', 'e', 'E', 'f', 'g', 'G'})
        lengths[static_cast<unsigned char>(c)] = length_bit(ZT_PRINTF_LEN_NONE);
    return lengths;
}();

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
    if (char *at = out.claim(length)) {
        power_of_two_digits(at + length, value, 4, letters);
        return;
    }
    char buffer[16];
    power_of_two_digits(buffer + length, value, 4, letters);
    out.put(buffer, length);
}

// One conversion of the format, read and checked before anything is printed.
// Trivial, so that a list of them costs nothing until it is filled.
struct Spec {
    const char *start; // its "%"
    const char *end;   // just past its letter
    uint32_t width;
    int32_t precision;
    // Whole words: fields stored as bytes and read back together would stall.
    int32_t flags;
    int32_t letter; // '%' for "%%"
    int32_t plain;
    int32_t len;
};

Piece piece_of(const Spec &spec) {
    Piece piece;
    piece.flags = static_cast<uint8_t>(spec.flags);
    piece.letter = static_cast<char>(spec.letter);
    piece.own = true;
    piece.plain = spec.plain != 0;
    piece.width = spec.width;
    piece.precision = spec.precision;
    return piece;
}

// Reads the conversion whose "%" is at p; false where the general path must
// serve it or report it.
bool read_spec(const char *p, Spec &spec, uint64_t &widths) {
    spec.start = p++;
    if (*p == '%') {
        spec.letter = '%';
        spec.end = p + 1;
        return true;
    }
    const char *const first = p;
    int32_t flags = 0;
    while (const uint8_t bit = flag_bits[static_cast<unsigned char>(*p)]) {
        if (flags & bit) return false;
        flags |= bit;
        ++p;
    }
    uint32_t width = 0;
    int32_t precision = -1;
    if (!read_number(p, width)) return false;
    if (*p == '.') {
        ++p;
        if (!read_number(p, precision)) return false;
    }
    const int len = read_length(p);
    const unsigned char letter = static_cast<unsigned char>(*p++);
    if (p - first > MAX_DIRECT_SPEC_CHARS || (served_lengths[letter] & length_bit(len)) == 0)
        return false;
    widths += width + static_cast<uint32_t>(precision + 1);
    spec.end = p;
    spec.width = width;
    spec.precision = precision;
    spec.flags = flags;
    spec.letter = letter;
    spec.plain = flags == 0 && width == 0 && precision < 0;
    spec.len = len;
    return true;
}

void print_signed(Sink &out, const Spec &spec, va_list ap) {
    if (reads_64_bits(spec.len)) {
        const long long value = va_arg(ap, long long);
        if (spec.plain) {
            const unsigned long long magnitude = static_cast<unsigned long long>(value);
            put_decimal(out, value < 0 ? 0 - magnitude : magnitude, value < 0);
        } else {
            write_integer(out, piece_of(spec), value, spec.len);
        }
        return;
    }
    const int value = va_arg(ap, int);
    if (spec.plain && spec.len == ZT_PRINTF_LEN_NONE) {
        const unsigned magnitude = static_cast<unsigned>(value);
        put_decimal(out, value < 0 ? 0 - magnitude : magnitude, value < 0);
    } else {
        write_integer(out, piece_of(spec), value, spec.len);
    }
}

void print_unsigned(Sink &out, const Spec &spec, va_list ap) {
    // Plain u, x and X of a value read as int or 64 bits are written here.
    const bool own_here = spec.plain && spec.letter != 'o';
    unsigned long long magnitude;
    if (reads_64_bits(spec.len)) {
        const long long value = va_arg(ap, long long);
        if (!own_here) {
            write_integer(out, piece_of(spec), value, spec.len);
            return;
        }
        magnitude = static_cast<unsigned long long>(value);
    } else {
        const int value = va_arg(ap, int);
        if (!own_here || spec.len != ZT_PRINTF_LEN_NONE) {
            write_integer(out, piece_of(spec), value, spec.len);
            return;
        }
        magnitude = static_cast<unsigned>(value);
    }
    if (spec.letter == 'u') {
        put_decimal(out, magnitude, false);
    } else {
        put_hex(out, magnitude, spec.letter == 'x' ? LOWER_DIGITS : UPPER_DIGITS);
    }
}

// Prints one conversion read by read_spec; false only where the own writer
// leaves a real to the C library (the alternate form, a decimal point other
// than ".", a text too long): the general path prints it, after the same text.
bool print_spec(Sink &out, const Spec &spec, va_list ap) {
    switch (spec.letter) {
    case '%':
        out.put("%", 1);
        return true;
    case 'd':
    case 'i':
        print_signed(out, spec, ap);
        return true;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        print_unsigned(out, spec, ap);
        return true;
    case 's': {
        const char *text = va_arg(ap, const char *);
        if (spec.plain && text != nullptr) {
            out.put(text, strlen(text));
        } else {
            write_text(out, piece_of(spec), text);
        }
        return true;
    }
    case 'c':
        write_char(out, piece_of(spec), va_arg(ap, int));
        return true;
    default: // e E f g G
        return write_real(out, piece_of(spec), va_arg(ap, double));
    }
}

// The conversions of one format, all read before any is printed.
struct Specs {
    Spec spec[MAX_DIRECT_SPECS];
    int count = 0;
    const char *format_end = nullptr;
};

// Reads every conversion of fmt; false where the general path must serve the
// format. A format it rejects thus never reaches the buffer: its error text
// replaces nothing printed before it.
bool read_format(const char *fmt, Specs &specs) {
    const char *p = fmt;
    // Widths and precisions that could add up past an int's output are left
    // to the general path, which reports them.
    uint64_t widths = 0;
    for (;;) {
        // Text up to the next "%": a short run is looked at here, a long one
        // is left to the library's vectorised search.
        for (int i = 0; i < SHORT_TEXT && *p != '%' && *p != '\0'; ++i) ++p;
        if (*p != '%' && *p != '\0') p = strchrnul(p, '%');
        if (*p == '\0') break;
        if (specs.count == MAX_DIRECT_SPECS) return false;
        Spec &spec = specs.spec[specs.count++];
        if (!read_spec(p, spec, widths)) return false;
        p = spec.end;
    }
    specs.format_end = p;
    return widths <= MAX_DIRECT_WIDTHS;
}

} // namespace

int render_direct(char *buf, size_t size, const char *fmt, const Frame *frame, va_list ap,
                  bool &general_first) {
    general_first = true;
    Specs specs;
    if (!read_format(fmt, specs)) return GIVE_UP;

    Sink out{buf, size};
    if (frame != nullptr) put_frame_text(out, frame->before);
    const char *p = fmt;
    for (int i = 0; i < specs.count; ++i) {
        const Spec &spec = specs.spec[i];
        out.put(p, static_cast<size_t>(spec.start - p));
        if (!print_spec(out, spec, ap)) return GIVE_UP;
        p = spec.end;
    }
    out.put(p, static_cast<size_t>(specs.format_end - p));
    if (frame != nullptr) out.put(frame->after.data(), frame->after.size());
    // The result is an int: the general path reports a longer output.
    if (out.count > INT_MAX) return GIVE_UP;
    general_first = specs.count >= REMEMBERED_PARSE_QUICKER &&
                    static_cast<size_t>(specs.format_end - fmt) < CACHED_FORMAT_SIZE;
    return out.terminate();
}

} // namespace ztc::printf_engine
