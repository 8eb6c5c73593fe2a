// d i o u x X, with every flag, width, precision and length modifier.
#include <array>

#include "base/ztc/os/printf_writers.h"

namespace ztc::printf_engine {
namespace {

struct Radix {
    int shift; // bits per digit; 0 for decimal
    bool is_signed;
    const char *letters;
};

constexpr const char *LOWER_DIGITS = "0123456789abcdef";
constexpr const char *UPPER_DIGITS = "0123456789ABCDEF";

constexpr Radix radix_of(char letter) {
    switch (letter) {
    case 'o':
        return {3, false, LOWER_DIGITS};
    case 'u':
        return {0, false, LOWER_DIGITS};
    case 'x':
        return {4, false, LOWER_DIGITS};
    case 'X':
        return {4, false, UPPER_DIGITS};
    default: // d i
        return {0, true, LOWER_DIGITS};
    }
}

// "00" to "99": decimal digits are made two at a time.
constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writes the digits of value so that they end just before `end`; returns
// where they start.
char *digits_of(char *end, unsigned long long value, const Radix &radix) {
    if (radix.shift == 0) return decimal_digits(end, value);
    const unsigned mask = (1u << radix.shift) - 1;
    do {
        *--end = radix.letters[value & mask];
        value >>= radix.shift;
    } while (value != 0);
    return end;
}

} // namespace

char *decimal_digits(char *end, unsigned long long value) {
    while (value >= 100) {
        const size_t pair = static_cast<size_t>(value % 100) * 2;
        value /= 100;
        *--end = digit_pairs[pair + 1];
        *--end = digit_pairs[pair];
    }
    if (value >= 10) {
        *--end = digit_pairs[static_cast<size_t>(value) * 2 + 1];
        *--end = digit_pairs[static_cast<size_t>(value) * 2];
    } else {
        *--end = static_cast<char>('0' + value);
    }
    return end;
}

namespace {

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
    char buffer[24];
    char *const end = buffer + sizeof buffer;

    // The most frequent pieces: a decimal with at most a width, "0" or "-":
    // its sign and digits, padded.
    if (radix.shift == 0 && piece.precision < 0 &&
        (piece.flags & (FLAG_PLUS | FLAG_SPACE | FLAG_HASH)) == 0) {
        bool negative = false;
        unsigned long long magnitude;
        if (radix.is_signed) {
            const long long v = signed_value(value, len);
            negative = v < 0;
            magnitude = negative ? 0 - static_cast<unsigned long long>(v)
                                 : static_cast<unsigned long long>(v);
        } else {
            magnitude = unsigned_value(value, len);
        }
        char *digits = decimal_digits(end, magnitude);
        if (negative) *--digits = '-';
        const size_t length = static_cast<size_t>(end - digits);
        if (piece.width <= length) {
            out.put(digits, length);
        } else if (piece.flags & FLAG_MINUS) {
            out.put(digits, length);
            out.fill(' ', piece.width - length);
        } else if (piece.flags & FLAG_ZERO) {
            // The zeros go between the sign and the digits.
            if (negative) out.put(digits++, 1);
            out.fill('0', piece.width - length);
            out.put(digits, static_cast<size_t>(end - digits));
        } else {
            out.fill(' ', piece.width - length);
            out.put(digits, length);
        }
        return;
    }

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
        if ((piece.flags & FLAG_HASH) && radix.shift == 4 && magnitude != 0) {
            prefix[prefix_len++] = '0';
            prefix[prefix_len++] = piece.letter;
        }
    }

    // A zero value with precision 0 has no digits at all.
    const char *digits = end;
    if (magnitude != 0 || piece.precision != 0) digits = digits_of(end, magnitude, radix);
    const size_t length = static_cast<size_t>(end - digits);

    const size_t precision = piece.precision < 0 ? 1 : static_cast<size_t>(piece.precision);
    size_t zeros = precision > length ? precision - length : 0;
    // The alternate octal form starts with a 0 of its own.
    if ((piece.flags & FLAG_HASH) && radix.shift == 3 && zeros == 0 &&
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
