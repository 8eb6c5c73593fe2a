// Flags, width and precision of one rebuilt specification, for the own writers.
#include <array>
#include <climits>

#include "base/ztc/os/printf_writers.h"

namespace ztc::printf_engine {
namespace {

constexpr std::array<unsigned char, 256> flag_bits = [] {
    std::array<unsigned char, 256> bits{};
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
bool read_number(const char *&p, int &number) {
    number = 0;
    for (int digits = 0; *p >= '0' && *p <= '9'; ++p) {
        if (++digits > MAX_NUMBER_DIGITS) return false;
        number = number * 10 + (*p - '0');
    }
    return true;
}

} // namespace

bool decode_piece(const Arg &arg, const Stars &stars, Piece &piece) {
    const char *p = arg.cs + 1;
    while (unsigned bit = flag_bits[static_cast<unsigned char>(*p)]) {
        piece.flags |= bit;
        ++p;
    }

    int width = 0;
    if (*p == '*') {
        ++p;
    } else if (!read_number(p, width)) {
        return false;
    }
    if (stars.has_width) {
        if (stars.width == INT_MIN) return false;
        width = stars.width;
        // A negative width from the list is the "-" flag and its magnitude.
        if (width < 0) {
            piece.flags |= FLAG_MINUS;
            width = -width;
        }
    }
    piece.width = static_cast<size_t>(width);

    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++p;
        } else if (!read_number(p, piece.precision)) {
            return false;
        }
    }
    // A negative precision from the list counts as none given.
    if (stars.has_precision) piece.precision = stars.precision < 0 ? -1 : stars.precision;

    piece.letter = arg.cs[arg.cs_len - 1];
    return true;
}

} // namespace ztc::printf_engine
