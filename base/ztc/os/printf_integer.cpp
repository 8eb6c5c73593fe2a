// d i o u x X, with every flag, width, precision and length modifier.
#include <charconv>

#include "base/ztc/os/printf_writers.h"

namespace ztc::printf_engine {
namespace {

struct Radix {
    int base;
    bool is_signed;
    bool upper;
};

constexpr Radix radix_of(char letter) {
    switch (letter) {
    case 'o':
        return {8, false, false};
    case 'u':
        return {10, false, false};
    case 'x':
        return {16, false, false};
    case 'X':
        return {16, false, true};
    default: // d i
        return {10, true, false};
    }
}

// The value as the conversion sees it: a value read as int is cut to short or
// char by h and hh, and one of the 64-bit codes keeps all its bits.
long long signed_value(long long value, int len) {
    switch (len) {
    case ZT_PRINTF_LEN_H:
        return static_cast<short>(value);
    case ZT_PRINTF_LEN_HH:
        return static_cast<signed char>(value);
    case ZT_PRINTF_LEN_NONE:
    case ZT_PRINTF_LEN_I32:
        return static_cast<int>(value);
    default:
        return value;
    }
}

unsigned long long unsigned_value(long long value, int len) {
    switch (len) {
    case ZT_PRINTF_LEN_H:
        return static_cast<unsigned short>(value);
    case ZT_PRINTF_LEN_HH:
        return static_cast<unsigned char>(value);
    case ZT_PRINTF_LEN_NONE:
    case ZT_PRINTF_LEN_I32:
        return static_cast<unsigned>(value);
    default:
        return static_cast<unsigned long long>(value);
    }
}

} // namespace

void write_integer(Sink &out, const Piece &piece, long long value, int len) {
    const Radix radix = radix_of(piece.letter);

    char prefix[2];
    size_t prefix_len = 0;
    unsigned long long magnitude;
    if (radix.is_signed) {
        const long long v = signed_value(value, len);
        magnitude =
            v < 0 ? 0 - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        if (v < 0) {
            prefix[prefix_len++] = '-';
        } else if (piece.flags & FLAG_PLUS) {
            prefix[prefix_len++] = '+';
        } else if (piece.flags & FLAG_SPACE) {
            prefix[prefix_len++] = ' ';
        }
    } else {
        magnitude = unsigned_value(value, len);
        if ((piece.flags & FLAG_HASH) && radix.base == 16 && magnitude != 0) {
            prefix[prefix_len++] = '0';
            prefix[prefix_len++] = radix.upper ? 'X' : 'x';
        }
    }

    // A zero value with precision 0 has no digits at all.
    char digits[24];
    size_t length = 0;
    if (magnitude != 0 || piece.precision != 0) {
        length = static_cast<size_t>(
            std::to_chars(digits, digits + sizeof digits, magnitude, radix.base).ptr - digits);
        if (radix.upper) {
            for (size_t i = 0; i < length; ++i) {
                if (digits[i] >= 'a') digits[i] = static_cast<char>(digits[i] - 'a' + 'A');
            }
        }
    }

    const size_t precision = piece.precision < 0 ? 1 : static_cast<size_t>(piece.precision);
    size_t zeros = precision > length ? precision - length : 0;
    // The alternate octal form starts with a 0 of its own.
    if ((piece.flags & FLAG_HASH) && radix.base == 8 && zeros == 0 &&
        (length == 0 || digits[0] != '0')) {
        zeros = 1;
    }
    // The 0 flag fills the width, unless a precision or "-" is given.
    if ((piece.flags & FLAG_ZERO) && !(piece.flags & FLAG_MINUS) && piece.precision < 0 &&
        piece.width > prefix_len + length) {
        const size_t fill = piece.width - prefix_len - length;
        if (fill > zeros) zeros = fill;
    }
    put_padded(out, piece, prefix, prefix_len, zeros, digits, length);
}

} // namespace ztc::printf_engine
