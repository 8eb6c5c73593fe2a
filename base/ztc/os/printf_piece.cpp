// Flags, width and precision of one rebuilt conversion text, for the own writers.
#include <array>
#include <climits>

#include "base/ztc/os/printf_writers.h"

namespace ztc::printf_engine {
namespace {

constexpr std::array<uint8_t, 256> flag_bits = [] {
    std::array<uint8_t, 256> bits{};
    bits['-'] = FLAG_MINUS;
    bits['+'] = FLAG_PLUS;
    bits[' '] = FLAG_SPACE;
    bits['#'] = FLAG_HASH;
    bits['0'] = FLAG_ZERO;
    return bits;
}();

// Beyond this many digits a number may not fit an int; those rare pieces go
// to the C library's formatter, which owns their overflow rules.
constexpr int MAX_NUMBER_DIGITS = 9;

// Reads a decimal number at p; false when it has too many digits.
template <class T>
bool read_number(const char *&p, T &number) {
    number = 0;
    for (int digits = 0; *p >= '0' && *p <= '9'; ++p) {
        if (++digits > MAX_NUMBER_DIGITS) return false;
        number = static_cast<T>(number * 10 + static_cast<T>(*p - '0'));
    }
    return true;
}

// The conversions the own writers serve; a "p" is served only as an
// extension's text.
constexpr bool has_own_writer(const Arg &arg) {
    switch (arg.type) {
    case ZT_PRINTF_TYPE_INT:
    case ZT_PRINTF_TYPE_UINT:
    case ZT_PRINTF_TYPE_CHAR:
    case ZT_PRINTF_TYPE_STRING:
    case ZT_PRINTF_TYPE_ERRNO:
        return true;
    case ZT_PRINTF_TYPE_DOUBLE:
        return arg.len != ZT_PRINTF_LEN_CAPITAL_L;
    case ZT_PRINTF_TYPE_POINTER:
        return arg.ext != nullptr;
    default:
        return false;
    }
}

} // namespace

void decode_piece(Arg &arg) {
    Piece &piece = arg.piece;
    piece = Piece{};
    if (!has_own_writer(arg)) return;

    const char *p = arg.cs + 1;
    while (uint8_t bit = flag_bits[static_cast<unsigned char>(*p)]) {
        piece.flags |= bit;
        ++p;
    }
    if (*p == '*') {
        ++p;
    } else if (!read_number(p, piece.width)) {
        return;
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++p;
        } else if (!read_number(p, piece.precision)) {
            return;
        }
    }
    piece.letter = arg.cs[arg.cs_len - 1];
    piece.own = true;
    piece.plain = piece.flags == 0 && piece.width == 0 && piece.precision < 0;
}

bool apply_stars(Piece &piece, const Stars &stars) {
    if (stars.has_width || stars.has_precision) piece.plain = false;
    if (stars.has_width) {
        if (stars.width == INT_MIN) return false;
        // A negative width from the list is the "-" flag and its magnitude.
        if (stars.width < 0) {
            piece.flags |= FLAG_MINUS;
            piece.width = static_cast<uint32_t>(-stars.width);
        } else {
            piece.width = static_cast<uint32_t>(stars.width);
        }
    }
    // A negative precision from the list counts as none given.
    if (stars.has_precision) piece.precision = stars.precision < 0 ? -1 : stars.precision;
    return true;
}

} // namespace ztc::printf_engine
