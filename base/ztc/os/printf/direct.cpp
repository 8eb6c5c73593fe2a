// The direct output's rarer conversions, kept out of the inline printer
// (direct.hpp), and its entry for the fuzz target.
#include "base/ztc/os/printf/direct.hpp"

namespace ztc::printf_engine::direct {
namespace {

// More characters after "%" than this may reach the general path's limit on
// a conversion's length; such rare conversions are left to it.
constexpr int MAX_DIRECT_SPEC_CHARS = 12;

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

Piece piece_of(const Spec &spec) {
    Piece piece;
    piece.flags = spec.flags;
    piece.letter = static_cast<char>(spec.letter);
    piece.own = true;
    piece.plain = spec.flags == 0 && spec.width == 0 && spec.precision < 0;
    piece.width = spec.width;
    piece.precision = spec.precision;
    return piece;
}

// A bare conversion's piece: its letter alone.
Piece bare_piece(char letter) {
    Piece piece;
    piece.letter = letter;
    piece.own = true;
    piece.plain = true;
    return piece;
}

} // namespace

bool read_decorated_spec(const char *start, const char *body, Spec &spec) {
    const char *p = body + 1;
    uint8_t flags = 0;
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
    if (p - (start + 1) > MAX_DIRECT_SPEC_CHARS || (served_lengths[letter] & length_bit(len)) == 0)
        return false;
    spec.kind = DECORATED;
    spec.size = static_cast<uint8_t>(p - start);
    spec.letter = letter;
    spec.len = static_cast<uint8_t>(len);
    spec.flags = flags;
    spec.width = width;
    spec.precision = precision;
    return true;
}

bool print_decorated(Sink &out, const Spec &spec, Value v) {
    const Piece piece = piece_of(spec);
    switch (spec.letter) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        write_integer(out, piece, v.integer, spec.len);
        return true;
    case 's':
        write_text(out, piece, v.text);
        return true;
    case 'c':
        write_char(out, piece, static_cast<int>(v.integer));
        return true;
    default: // e E f g G
        return write_real(out, piece, v.real);
    }
}

// Each case reads its own type from the list: read first into a Value, through one
// more branch on the kind, %016llx took a tenth longer.
bool print_decorated(Sink &out, const Spec &spec, va_list ap) {
    const Piece piece = piece_of(spec);
    switch (spec.letter) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        write_integer(out, piece, reads_64_bits(spec.len) ? va_arg(ap, long long) : va_arg(ap, int),
                      spec.len);
        return true;
    case 's':
        write_text(out, piece, va_arg(ap, const char *));
        return true;
    case 'c':
        write_char(out, piece, va_arg(ap, int));
        return true;
    default: // e E f g G
        return write_real(out, piece, va_arg(ap, double));
    }
}

namespace {

// The values of a format with positional numbers, by number.
struct Numbering {
    int values;
    // Positional number - 1 -> the first conversion that reads it.
    uint8_t first[MAX_DIRECT_SPECS];
};

// Every conversion but "%%" has a number, every number up to the highest is
// used, and the conversions that share one read it alike (the same type and
// length). Anything else the general path reports, and is left to it.
bool number_values(const Specs &specs, Numbering &numbering) {
    int highest = 0;
    for (int i = 0; i < specs.count; ++i) {
        const Spec &spec = specs.spec[i];
        if (spec.arg == 0) {
            // "%%" takes no number; any other conversion without one is mixed in.
            if (spec.kind != PERCENT) return false;
            continue;
        }
        // "%1$%" is a numbered conversion that takes no value.
        if (spec.kind == PERCENT) return false;
        if (spec.arg > highest) {
            for (int n = highest; n < spec.arg; ++n) numbering.first[n] = 0xff;
            highest = spec.arg;
        }
        uint8_t &first = numbering.first[spec.arg - 1];
        if (first == 0xff) {
            first = static_cast<uint8_t>(i);
            continue;
        }
        const Spec &earlier = specs.spec[first];
        if (earlier.len != spec.len || general_type(earlier.letter) != general_type(spec.letter))
            return false;
    }
    for (int n = 0; n < highest; ++n) {
        if (numbering.first[n] == 0xff) return false; // a number no conversion reads
    }
    numbering.values = highest;
    return true;
}

} // namespace

int print_numbered(char *buf, size_t size, const char *fmt, const Frame *frame, va_list ap) {
    Specs specs;
    Numbering numbering;
    if (read_format<true>(fmt, specs) != Read::done || !number_values(specs, numbering))
        return GIVE_UP;
    Value values[MAX_DIRECT_SPECS];
    ListValues list{ap};
    for (int n = 0; n < numbering.values; ++n)
        values[n] = list.value(specs.spec[numbering.first[n]]);

    Sink out{buf, size};
    if (frame != nullptr) put_frame_text(out, frame->before);
    NumberedValues numbered{values};
    if (!print_specs(out, fmt, specs, numbered)) return GIVE_UP;
    return finish(out, frame);
}

void print_bare_octal(Sink &out, unsigned long long value) {
    write_integer(out, bare_piece('o'), static_cast<long long>(value), ZT_PRINTF_LEN_LL);
}

void print_null_text(Sink &out) {
    write_text(out, bare_piece('s'), nullptr);
}

bool print_bare_real(Sink &out, char letter, double value) {
    return write_real(out, bare_piece(letter), value);
}

} // namespace ztc::printf_engine::direct

namespace ztc::printf_engine {

// With zt_snprintf's path for one bare conversion, so that the fuzz target
// compares that path with the general one too.
int render_direct(char *buf, size_t size, const char *fmt, const Frame *frame, va_list ap,
                  bool &general_first) {
    return direct::print<true>(buf, size, fmt, frame, ap, general_first);
}

} // namespace ztc::printf_engine
