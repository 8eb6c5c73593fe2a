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
//
// Inline, so that the entry points print without a call of their own: for
// short formats the calls and frames cost more than the printing.
#ifndef ZTC_OS_PRINTF_DIRECT_H
#define ZTC_OS_PRINTF_DIRECT_H

#include <array>
#include <bit>
#include <climits>
#include <cstdarg>
#include <type_traits>

#include "base/ztc/os/printf/internal.hpp"
#include "base/ztc/os/printf/writers.hpp"

namespace ztc::printf_engine::direct {

inline constexpr int GIVE_UP = -1;

// Formats of more conversions are left to the general path.
inline constexpr int MAX_DIRECT_SPECS = 12;
static_assert(MAX_DIRECT_SPECS <= CACHED_RECORDS);
// Widths and precisions adding up to more than this could make an output
// longer than an int can count.
inline constexpr uint64_t MAX_DIRECT_WIDTHS = 1u << 30;

// From this many conversions with flags, widths or precisions on, printing
// from a remembered parse is quicker than reading the format again.
inline constexpr int REMEMBERED_PARSE_QUICKER = 4;

// Literal runs up to this long are scanned byte by byte: a call of the
// library's search costs more.
inline constexpr int SHORT_TEXT = 8;

// Letter -> the length codes with which this output serves it (0: none).
inline constexpr std::array<uint16_t, 256> served_lengths = [] {
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

// The digits of a plain x or X, in place where they fit.
inline void put_hex(Sink &out, unsigned long long value, const char *letters) {
    const size_t length = static_cast<size_t>(std::bit_width(value | 1) + 3) / 4;
    if (char *at = out.claim(length)) [[likely]] {
        power_of_two_digits(at + length, value, 4, letters);
        return;
    }
    char buffer[16];
    power_of_two_digits(buffer + length, value, 4, letters);
    put_cut(out, buffer, length);
}

// What a conversion prints, as the printing loop tells it apart. A bare
// conversion is its letter alone ("%d", "%%"); a wide one has only a 64-bit
// length before its letter ("%lld", "%zu"); a decorated one has flags, a
// width, a precision or a short length.
enum Kind : uint8_t {
    DECORATED,
    PERCENT,
    INT,
    UNSIGNED,
    HEX,
    HEX_UPPER,
    OCTAL,
    TEXT,
    CHAR,
    REAL,
    INT64,
    UNSIGNED64,
    HEX64,
    HEX64_UPPER,
    OCTAL64,
};

// Character after "%" -> the kind of the bare conversion it ends (DECORATED:
// it does not end one).
inline constexpr std::array<Kind, 256> bare_kinds = [] {
    std::array<Kind, 256> kinds{};
    kinds['%'] = PERCENT;
    kinds['d'] = kinds['i'] = INT;
    kinds['u'] = UNSIGNED;
    kinds['x'] = HEX;
    kinds['X'] = HEX_UPPER;
    kinds['o'] = OCTAL;
    kinds['s'] = TEXT;
    kinds['c'] = CHAR;
    for (char c : {'e', 'E', 'f', 'g', 'G'}) kinds[static_cast<unsigned char>(c)] = REAL;
    return kinds;
}();

// Integer letter -> the kind of its conversion with a 64-bit length.
inline constexpr std::array<Kind, 256> wide_kinds = [] {
    std::array<Kind, 256> kinds{};
    kinds['d'] = kinds['i'] = INT64;
    kinds['u'] = UNSIGNED64;
    kinds['x'] = HEX64;
    kinds['X'] = HEX64_UPPER;
    kinds['o'] = OCTAL64;
    return kinds;
}();

// One conversion of the format, read and checked before anything is printed.
// Trivial, so that a list of them costs nothing until it is filled. Only a
// decorated conversion sets flags, width and precision.
struct Spec {
    const char *start; // its "%"
    Kind kind;
    uint8_t size; // characters from "%" through the letter
    uint8_t letter;
    uint8_t len;
    uint8_t arg; // its positional number, 0 where it has none
    uint8_t flags;
    uint32_t width;
    int32_t precision;
    const char *end() const { return start + size; }
};

// The value a conversion reads, by its letter and length.
enum ValueKind : uint8_t { VALUE_INT, VALUE_INT64, VALUE_DOUBLE, VALUE_TEXT };

constexpr ValueKind value_kind_of(const Spec &spec) {
    switch (spec.letter) {
    case 's':
        return VALUE_TEXT;
    case 'c':
        return VALUE_INT;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        return VALUE_DOUBLE;
    default:
        return reads_64_bits(spec.len) ? VALUE_INT64 : VALUE_INT;
    }
}

// One value read from the list, as its conversion reads it.
union Value {
    long long integer; // an int is kept sign-extended, as the writers take it
    double real;
    const char *text;
};

// Values read straight from the list as the conversions come.
struct ListValues {
    std::decay_t<va_list> ap;
    template <class T>
    T next(const Spec &) {
        return va_arg(ap, T);
    }
    Value value(const Spec &spec) {
        Value v;
        switch (value_kind_of(spec)) {
        case VALUE_INT:
            v.integer = va_arg(ap, int);
            break;
        case VALUE_INT64:
            v.integer = va_arg(ap, long long);
            break;
        case VALUE_DOUBLE:
            v.real = va_arg(ap, double);
            break;
        case VALUE_TEXT:
            v.text = va_arg(ap, const char *);
            break;
        }
        return v;
    }
};

// Values read before printing, by positional number.
struct NumberedValues {
    const Value *values;
    template <class T>
    T next(const Spec &spec) {
        const Value &v = values[spec.arg - 1];
        if constexpr (std::is_same_v<T, double>) {
            return v.real;
        } else if constexpr (std::is_pointer_v<T>) {
            return v.text;
        } else {
            return static_cast<T>(v.integer);
        }
    }
    Value value(const Spec &spec) { return values[spec.arg - 1]; }
};

// Reads the conversion whose "%" is at start, with flags, a width, a
// precision or a length after `body` (the "%", or the "$" after a positional
// number), into spec; false where the general path must serve it or report it.
bool read_decorated_spec(const char *start, const char *body, Spec &spec);

// A decorated conversion of the value v; false only where the own writer
// leaves a real to the C library (the alternate form, a decimal point other
// than ".", a text too long): the general path prints it, after the same text.
bool print_decorated(Sink &out, const Spec &spec, Value v);
// The same with its value read from the list.
bool print_decorated(Sink &out, const Spec &spec, va_list ap);

// Bare conversions that are printed out of line.
void print_bare_octal(Sink &out, unsigned long long value);
void print_null_text(Sink &out);
bool print_bare_real(Sink &out, char letter, double value);

// The conversions of one format, all read before any is printed.
struct Specs {
    Spec spec[MAX_DIRECT_SPECS];
    int count;
    int decorated; // conversions read by read_decorated_spec
    const char *format_end;
};

// The type the general path gives a conversion letter, as far as its check of
// one positional number used twice goes.
constexpr int general_type(uint8_t letter) {
    switch (letter) {
    case 'd':
    case 'i':
        return ZT_PRINTF_TYPE_INT;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        return ZT_PRINTF_TYPE_UINT;
    case 'c':
        return ZT_PRINTF_TYPE_CHAR;
    case 's':
        return ZT_PRINTF_TYPE_STRING;
    default:
        return ZT_PRINTF_TYPE_DOUBLE;
    }
}

// How reading a format ended.
enum class Read { done, give_up, numbered };

// Reads every conversion of fmt; give_up where the general path must serve
// the format. A format it rejects thus never reaches the buffer: its error
// text replaces nothing printed before it. Without `numbered` a positional
// number ends the reading (Read::numbered): such formats are read again with
// it, out of line.
template <bool numbered>
[[gnu::always_inline]] inline Read read_format(const char *fmt, Specs &specs) {
    const char *p = fmt;
    // Widths and precisions that could add up past an int's output are left
    // to the general path, which reports them.
    uint64_t widths = 0;
    int count = 0;
    int decorated = 0;
    for (;;) {
        // Text up to the next "%": a short run is looked at here, a long one
        // is left to the library's vectorised search.
        for (int i = 0; i < SHORT_TEXT && *p != '%' && *p != '\0'; ++i) ++p;
        if (*p != '%' && *p != '\0') p = strchrnul(p, '%');
        if (*p == '\0') break;
        if (count == MAX_DIRECT_SPECS) return Read::give_up;
        Spec &spec = specs.spec[count++];
        if (const Kind kind = bare_kinds[static_cast<unsigned char>(p[1])]) {
            spec.start = p;
            spec.kind = kind;
            spec.size = 2;
            spec.letter = static_cast<uint8_t>(p[1]);
            spec.len = ZT_PRINTF_LEN_NONE;
            if constexpr (numbered) spec.arg = 0;
            p += 2;
            continue;
        }
        spec.start = p;
        if constexpr (numbered) spec.arg = 0;
        // The conversion proper follows `body`: the "%", or the "$" after a
        // positional number ("%2$s"), which takes one or two digits here.
        const char *body = p;
        if (p[1] >= '1' && p[1] <= '9') {
            const bool two = p[2] >= '0' && p[2] <= '9';
            if (p[two ? 3 : 2] == '$') {
                if constexpr (!numbered) return Read::numbered;
                const int number = two ? (p[1] - '0') * 10 + (p[2] - '0') : p[1] - '0';
                if (number > MAX_DIRECT_SPECS) return Read::give_up;
                body = p + (two ? 3 : 2);
                spec.arg = static_cast<uint8_t>(number);
                const unsigned char c = static_cast<unsigned char>(body[1]);
                if (const Kind kind = bare_kinds[c]) {
                    spec.kind = kind;
                    spec.letter = c;
                    spec.len = ZT_PRINTF_LEN_NONE;
                    p = body + 2;
                    spec.size = static_cast<uint8_t>(p - spec.start);
                    continue;
                }
            }
        }
        const unsigned char c = static_cast<unsigned char>(body[1]);
        // A 64-bit length alone: l, ll, j, z, and t of a signed conversion.
        if (c == 'l' || c == 'z' || c == 'j' || c == 't') {
            const bool twice = c == 'l' && body[2] == 'l';
            const unsigned char letter = static_cast<unsigned char>(body[twice ? 3 : 2]);
            const Kind kind = wide_kinds[letter];
            if (kind != DECORATED && (c != 't' || kind == INT64)) {
                spec.kind = kind;
                spec.letter = letter;
                spec.len = twice      ? ZT_PRINTF_LEN_LL
                           : c == 'l' ? ZT_PRINTF_LEN_L
                           : c == 'z' ? ZT_PRINTF_LEN_Z
                           : c == 'j' ? ZT_PRINTF_LEN_J
                                      : ZT_PRINTF_LEN_T;
                p = body + (twice ? 4 : 3);
                spec.size = static_cast<uint8_t>(p - spec.start);
                continue;
            }
        }
        if (!read_decorated_spec(p, body, spec)) return Read::give_up;
        ++decorated;
        widths += spec.width + static_cast<uint32_t>(spec.precision + 1);
        p = spec.end();
    }
    specs.count = count;
    specs.decorated = decorated;
    specs.format_end = p;
    if (widths > MAX_DIRECT_WIDTHS) return Read::give_up;
    return Read::done;
}

// The writers that are not inline take a copy of the sink: the sink of the
// printing loop then stays in registers.
template <class Write>
[[gnu::always_inline]] inline void write_out_of_line(Sink &out, Write write) {
    Sink copy = out;
    write(copy);
    out.count = copy.count;
}

// Prints one conversion read by read_format; false where the general path
// must print it (see print_decorated).
template <class Values>
[[gnu::always_inline]] inline bool print_spec(Sink &out, const Spec &spec, Values &values) {
    switch (spec.kind) {
    case PERCENT:
        out.put("%", 1);
        return true;
    case INT: {
        const int value = values.template next<int>(spec);
        const unsigned magnitude = static_cast<unsigned>(value);
        put_decimal32(out, value < 0 ? 0 - magnitude : magnitude, value < 0);
        return true;
    }
    case UNSIGNED:
        put_decimal32(out, values.template next<unsigned>(spec), false);
        return true;
    case HEX:
        put_hex(out, values.template next<unsigned>(spec), LOWER_DIGITS);
        return true;
    case HEX_UPPER:
        put_hex(out, values.template next<unsigned>(spec), UPPER_DIGITS);
        return true;
    case TEXT: {
        const char *text = values.template next<const char *>(spec);
        if (text != nullptr) [[likely]] {
            out.put(text, strlen(text));
        } else {
            write_out_of_line(out, [](Sink &o) { print_null_text(o); });
        }
        return true;
    }
    case CHAR: {
        const char c = static_cast<char>(values.template next<int>(spec));
        out.put(&c, 1);
        return true;
    }
    case OCTAL:
        [[unlikely]] {
            const unsigned value = values.template next<unsigned>(spec);
            write_out_of_line(out, [&](Sink &o) { print_bare_octal(o, value); });
            return true;
        }
    case INT64: {
        const long long value = values.template next<long long>(spec);
        const unsigned long long magnitude = static_cast<unsigned long long>(value);
        put_decimal(out, value < 0 ? 0 - magnitude : magnitude, value < 0);
        return true;
    }
    case UNSIGNED64:
        put_decimal(out, values.template next<unsigned long long>(spec), false);
        return true;
    case HEX64:
        put_hex(out, values.template next<unsigned long long>(spec), LOWER_DIGITS);
        return true;
    case HEX64_UPPER:
        put_hex(out, values.template next<unsigned long long>(spec), UPPER_DIGITS);
        return true;
    case OCTAL64:
        [[unlikely]] {
            const unsigned long long value = values.template next<unsigned long long>(spec);
            write_out_of_line(out, [&](Sink &o) { print_bare_octal(o, value); });
            return true;
        }
    case REAL: {
        const double value = values.template next<double>(spec);
        bool written = false;
        write_out_of_line(out, [&](Sink &o) {
            written = print_bare_real(o, static_cast<char>(spec.letter), value);
        });
        return written;
    }
    default: {
        bool written = false;
        if constexpr (std::is_same_v<Values, ListValues>) {
            write_out_of_line(out, [&](Sink &o) { written = print_decorated(o, spec, values.ap); });
        } else {
            const Value value = values.value(spec);
            write_out_of_line(out, [&](Sink &o) { written = print_decorated(o, spec, value); });
        }
        return written;
    }
    }
}

// Prints fmt, with `frame` (when not null) around it, straight into buf;
// GIVE_UP where the general path must serve the format (the buffer may then
// hold part of an output, and `ap` is spent). `general_first` tells whether
// the general path is the quicker way for this format: it must serve it, or
// its remembered parse beats reading the format again.
// Prints the text and conversions read by read_format.
template <class Values>
[[gnu::always_inline]] inline bool print_specs(Sink &out, const char *fmt, const Specs &specs,
                                               Values &values) {
    const char *p = fmt;
    const Spec *const last = specs.spec + specs.count;
    for (const Spec *spec = specs.spec; spec != last; ++spec) {
        out.put(p, static_cast<size_t>(spec->start - p));
        if (!print_spec(out, *spec, values)) return false;
        p = spec->end();
    }
    out.put(p, static_cast<size_t>(specs.format_end - p));
    return true;
}

// print() for a format with positional numbers: read again with them, its
// values read in their numbers' order, then its text and conversions.
int print_numbered(char *buf, size_t size, const char *fmt, const Frame *frame, va_list ap);

// The end of print(): the text after the format, the check of the length and
// the terminating NUL.
[[gnu::always_inline]] inline int finish(Sink &out, const Frame *frame) {
    if (frame != nullptr) out.put(frame->after.data(), frame->after.size());
    // The result is an int: the general path reports a longer output.
    if (out.count > INT_MAX) return GIVE_UP;
    return out.terminate();
}

// The kind of a format that is one bare or wide conversion and nothing else
// ("%d", "%zu"), and its letter; DECORATED for any other format.
[[gnu::always_inline]] inline Kind lone_kind(const char *fmt, uint8_t &letter) {
    if (fmt[0] != '%') return DECORATED;
    const unsigned char c = static_cast<unsigned char>(fmt[1]);
    if (c == '\0') return DECORATED;
    if (fmt[2] == '\0') {
        letter = c;
        return bare_kinds[c];
    }
    if (c != 'l' && c != 'z' && c != 'j' && c != 't') return DECORATED;
    const bool twice = c == 'l' && fmt[2] == 'l';
    letter = static_cast<uint8_t>(fmt[twice ? 3 : 2]);
    if (letter == '\0' || fmt[twice ? 4 : 3] != '\0') return DECORATED;
    const Kind kind = wide_kinds[letter];
    return c != 't' || kind == INT64 ? kind : DECORATED;
}

// print() for a format of one conversion and nothing else ("%d"): for it the
// list and the loops cost more than the digits.
[[gnu::always_inline]] inline int print_single(char *buf, size_t size, const char *fmt, Kind kind,
                                               uint8_t letter, const Frame *frame, va_list ap,
                                               bool &general_first) {
    Spec spec;
    spec.start = fmt;
    spec.kind = kind;
    spec.letter = letter;
    Sink out{buf, size};
    if (frame != nullptr) put_frame_text(out, frame->before);
    ListValues values{ap};
    if (!print_spec(out, spec, values)) return GIVE_UP;
    general_first = false;
    return finish(out, frame);
}

// `single`: formats of one conversion take print_single. Only the entry that
// is most often called so gets it: inline, it enlarges the caller's frame.
template <bool single = false>
[[gnu::always_inline]] inline int print(char *buf, size_t size, const char *fmt, const Frame *frame,
                                        va_list ap, bool &general_first) {
    general_first = true;
    if constexpr (single) {
        uint8_t letter = 0;
        if (const Kind kind = lone_kind(fmt, letter)) [[likely]]
            return print_single(buf, size, fmt, kind, letter, frame, ap, general_first);
    }
    Specs specs;
    const Read read = read_format<false>(fmt, specs);
    if (read != Read::done) [[unlikely]] {
        if (read == Read::give_up) return GIVE_UP;
        const int result = print_numbered(buf, size, fmt, frame, ap);
        general_first = result < 0;
        return result;
    }
    Sink out{buf, size};
    if (frame != nullptr) put_frame_text(out, frame->before);
    ListValues values{ap};
    if (!print_specs(out, fmt, specs, values)) return GIVE_UP;
    general_first = specs.decorated >= REMEMBERED_PARSE_QUICKER &&
                    static_cast<size_t>(specs.format_end - fmt) < CACHED_FORMAT_SIZE;
    return finish(out, frame);
}

} // namespace ztc::printf_engine::direct

#endif
