// d i o u x X, with every flag, width, precision and length modifier.
#include <bit>

#include "base/ztc/os/printf/writers.hpp"

namespace ztc::printf_engine {
namespace {

struct Radix {
    int shift; // bits per digit; 0 for decimal
    bool is_signed;
    const char *letters;
};

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

// Writes the digits of value so that they end just before `end`.
void digits_of(char *end, unsigned long long value, const Radix &radix) {
    if (radix.shift == 0) {
        decimal_digits(end, value);
    } else {
        power_of_two_digits(end, value, radix.shift, radix.letters);
    }
}

size_t digit_count(unsigned long long value, const Radix &radix) {
    if (radix.shift == 0) return decimal_length(value);
    const size_t bits = value == 0 ? 1 : static_cast<size_t>(std::bit_width(value));
    const size_t shift = static_cast<size_t>(radix.shift);
    return (bits + shift - 1) / shift;
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

namespace {

// The most frequent pieces: a decimal with at most a width, "0" or "-": its
// sign and digits, padded, in place where they fit.
void write_padded_decimal(Sink &out, const Piece &piece, unsigned long long magnitude,
                          bool negative) {
    const size_t digits = decimal_length(magnitude);
    const size_t length = digits + (negative ? 1 : 0);
    const size_t padding = piece.width > length ? piece.width - length : 0;
    char *at = out.claim(length + padding);
    if (at == nullptr) {
        char buffer[24];
        char *const end = buffer + sizeof buffer;
        decimal_digits(end, magnitude);
        const char sign = '-';
        const bool zeros = (piece.flags & (FLAG_ZERO | FLAG_MINUS)) == FLAG_ZERO;
        put_padded(out, piece, &sign, negative ? 1 : 0, zeros ? padding : 0, end - digits, digits);
        return;
    }
    if (piece.flags & FLAG_MINUS) {
        if (negative) *at++ = '-';
        decimal_digits(at + digits, magnitude);
        fill_bytes(at + digits, ' ', padding);
    } else if (piece.flags & FLAG_ZERO) {
        // The zeros go between the sign and the digits.
        if (negative) *at++ = '-';
        at = fill_bytes(at, '0', padding);
        decimal_digits(at + digits, magnitude);
    } else {
        at = fill_bytes(at, ' ', padding);
        if (negative) *at++ = '-';
        decimal_digits(at + digits, magnitude);
    }
}

} // namespace

void write_integer(Sink &out, const Piece &piece, long long value, int len) {
    const Radix radix = radix_of(piece.letter);
    if (radix.shift == 0 && piece.precision < 0 &&
        (piece.flags & (FLAG_PLUS | FLAG_SPACE | FLAG_HASH)) == 0) {
        if (!radix.is_signed) {
            write_padded_decimal(out, piece, unsigned_value(value, len), false);
            return;
        }
        const long long v = signed_value(value, len);
        const auto magnitude = static_cast<unsigned long long>(v);
        write_padded_decimal(out, piece, v < 0 ? 0 - magnitude : magnitude, v < 0);
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
    const size_t length =
        magnitude != 0 || piece.precision != 0 ? digit_count(magnitude, radix) : 0;
    const size_t precision = piece.precision < 0 ? 1 : static_cast<size_t>(piece.precision);
    size_t zeros = precision > length ? precision - length : 0;
    // The alternate octal form starts with a 0 of its own (a value's first
    // digit is 0 only when the value is).
    if ((piece.flags & FLAG_HASH) && radix.shift == 3 && zeros == 0 &&
        (length == 0 || magnitude != 0)) {
        zeros = 1;
    }
    // The 0 flag fills the width, unless a precision or "-" is given.
    if ((piece.flags & FLAG_ZERO) && !(piece.flags & FLAG_MINUS) && piece.precision < 0 &&
        piece.width > prefix_len + length) {
        const size_t fill = piece.width - prefix_len - length;
        if (fill > zeros) zeros = fill;
    }

    // Laid out in place where the whole piece fits: digits made elsewhere and
    // copied would be read back by wider loads than wrote them, a stall.
    const size_t body = prefix_len + zeros + length;
    const size_t padding = piece.width > body ? piece.width - body : 0;
    if (char *at = out.claim(body + padding)) {
        if ((piece.flags & FLAG_MINUS) == 0) at = fill_bytes(at, ' ', padding);
        for (size_t i = 0; i < prefix_len; ++i) *at++ = prefix[i];
        at = fill_bytes(at, '0', zeros);
        if (length != 0) digits_of(at + length, magnitude, radix);
        at += length;
        if (piece.flags & FLAG_MINUS) fill_bytes(at, ' ', padding);
        return;
    }

    char buffer[24];
    char *const end = buffer + sizeof buffer;
    if (length != 0) digits_of(end, magnitude, radix);
    put_padded(out, piece, prefix, prefix_len, zeros, end - length, length);
}

} // namespace ztc::printf_engine
