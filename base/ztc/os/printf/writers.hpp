// The engine's own writers for single conversions: the counting sink they
// write into, the decoded conversion they follow, and one writer per
// family of values. Each writes exactly the bytes the C library's snprintf
// writes for the same conversion and value.
#ifndef ZTC_OS_PRINTF_WRITERS_H
#define ZTC_OS_PRINTF_WRITERS_H

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/ztc/os/printf/internal.hpp"

namespace ztc::printf_engine {

// memcpy for the short pieces that make most of the output: fixed-size moves
// that overlap where n is not their size, never touching a byte outside
// either range, instead of a call.
inline void copy_bytes(char *to, const char *from, size_t n) {
    if (n > 16) {
        memcpy(to, from, n);
    } else if (n >= 8) {
        uint64_t head, tail;
        memcpy(&head, from, 8);
        memcpy(&tail, from + n - 8, 8);
        memcpy(to, &head, 8);
        memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head, tail;
        memcpy(&head, from, 4);
        memcpy(&tail, from + n - 4, 4);
        memcpy(to, &head, 4);
        memcpy(to + n - 4, &tail, 4);
    } else if (n != 0) {
        // 1 to 3 bytes: first, middle and last (some of them the same byte).
        const char first = from[0], middle = from[n / 2], last = from[n - 1];
        to[0] = first;
        to[n / 2] = middle;
        to[n - 1] = last;
    }
}

// Flag character -> its PieceFlag bit (0: no flag).
inline constexpr std::array<uint8_t, 256> flag_bits = [] {
    std::array<uint8_t, 256> bits{};
    bits['-'] = FLAG_MINUS;
    bits['+'] = FLAG_PLUS;
    bits[' '] = FLAG_SPACE;
    bits['#'] = FLAG_HASH;
    bits['0'] = FLAG_ZERO;
    return bits;
}();

// Beyond this many digits a width or precision may not fit an int; those
// rare pieces go to the C library's formatter, which owns their overflow rules.
inline constexpr int MAX_NUMBER_DIGITS = 9;

// Reads the decimal number of a width or precision at p; false when it has
// more than MAX_NUMBER_DIGITS digits.
template <class T>
bool read_number(const char *&p, T &number) {
    number = 0;
    for (int digits = 0; *p >= '0' && *p <= '9'; ++p) {
        if (++digits > MAX_NUMBER_DIGITS) return false;
        number = static_cast<T>(number * 10 + static_cast<T>(*p - '0'));
    }
    return true;
}

// memset for the few bytes of most paddings, without a call: overlapping
// stores of 8 or 4 bytes; returns the end.
inline char *fill_bytes(char *to, char c, size_t n) {
    if (n > 32) {
        memset(to, c, n);
        return to + n;
    }
    const uint64_t pattern = 0x0101010101010101u * static_cast<unsigned char>(c);
    if (n >= 8) {
        for (size_t i = 8; i < n; i += 8) memcpy(to + i - 8, &pattern, 8);
        memcpy(to + n - 8, &pattern, 8);
    } else if (n >= 4) {
        const uint32_t four = static_cast<uint32_t>(pattern);
        memcpy(to, &four, 4);
        memcpy(to + n - 4, &four, 4);
    } else {
        for (size_t i = 0; i < n; ++i) to[i] = c;
    }
    return to + n;
}

// The caller's buffer seen as a counting writer: every byte of the output is
// counted, the bytes that fit are stored. The terminating NUL is the caller's.
struct Sink {
    char *buf;
    size_t size;
    size_t count = 0; // length of the complete output so far

    void put(const char *text, size_t n) {
        if (n != 0 && count < size) {
            const size_t room = size - count;
            copy_bytes(buf + count, text, n < room ? n : room);
        }
        count += n;
    }
    void fill(char c, size_t n) {
        if (count < size) {
            const size_t room = size - count;
            fill_bytes(buf + count, c, n < room ? n : room);
        }
        count += n;
    }
    // Room for the next n bytes of the output, counted, where all of them fit;
    // else null and nothing counted.
    char *claim(size_t n) {
        if (count >= size || size - count < n) [[unlikely]]
            return nullptr;
        char *at = buf + count;
        count += n;
        return at;
    }
    // Ends the output with its NUL, after the text or at the buffer's end,
    // and gives the output's length (which the caller has checked fits an int).
    int terminate() const {
        if (count < size) {
            buf[count] = '\0';
        } else if (size != 0) {
            buf[size - 1] = '\0';
        }
        return static_cast<int>(count);
    }
    // Where the next byte goes and how much room is left, for a writer that
    // stores the piece itself (0 room once the buffer is full).
    char *cursor() const { return count < size ? buf + count : nullptr; }
    size_t space() const { return count < size ? size - count : 0; }
};

// Sink::put for the rare piece that does not fit, kept out of the callers.
[[gnu::cold, gnu::noinline]] inline void put_cut(Sink &out, const char *text, size_t n) {
    out.put(text, n);
}

// Literal text around a format. Text that already stands where it goes (its
// caller wrote it there) is only counted.
inline void put_frame_text(Sink &out, std::string_view text) {
    if (out.count < out.size && text.data() == out.buf + out.count) {
        out.count += text.size();
        return;
    }
    out.put(text.data(), text.size());
}

// A text right-aligned in `width` columns, as "%<width>s" prints it.
inline void put_right(Sink &out, const char *text, size_t width) {
    const size_t length = strlen(text);
    if (length < width) out.fill(' ', width - length);
    out.put(text, length);
}

// Width and precision given by `*` arguments, for one conversion.
struct Stars {
    bool has_width = false;
    bool has_precision = false;
    int width = 0;
    int precision = 0;
};

// The piece of a record with the `*` values applied; false where they make a
// width the own writers leave to snprintf.
bool apply_stars(Piece &piece, const Stars &stars);

// Lays out one piece: padding, prefix (sign or radix), leading zeros, body.
inline void put_padded(Sink &out, const Piece &piece, const char *prefix, size_t prefix_len,
                       size_t zeros, const char *body, size_t body_len) {
    const size_t length = prefix_len + zeros + body_len;
    const size_t padding = piece.width > length ? piece.width - length : 0;
    if (padding != 0 && (piece.flags & FLAG_MINUS) == 0) out.fill(' ', padding);
    if (prefix_len != 0) out.put(prefix, prefix_len);
    if (zeros != 0) out.fill('0', zeros);
    out.put(body, body_len);
    if (padding != 0 && (piece.flags & FLAG_MINUS) != 0) out.fill(' ', padding);
}

// "00" to "99": decimal digits are made two at a time.
inline constexpr std::array<char, 200> digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// The two digits of value (below 100) at `at`.
inline void put_pair(char *at, uint32_t value) {
    memcpy(at, &digit_pairs[value * 2], 2);
}

// The decimal digits of value (below 10^8) so that they end just before
// `end`; returns where they start. Four digits are split off first: the two
// halves' divisions do not wait for each other.
inline char *small_decimal_digits(char *end, uint32_t value) {
    if (value >= 10000) {
        const uint32_t low = value % 10000;
        value /= 10000;
        put_pair(end - 2, low % 100);
        put_pair(end - 4, low / 100);
        end -= 4;
    }
    if (value >= 100) {
        put_pair(end - 2, value % 100);
        value /= 100;
        end -= 2;
    }
    if (value >= 10) {
        put_pair(end - 2, value);
        return end - 2;
    }
    *--end = static_cast<char>('0' + value);
    return end;
}

// Exactly eight digits of value (below 10^8), zeros first, ending at `end`.
inline void eight_digits(char *end, uint32_t value) {
    const uint32_t high = value / 10000, low = value % 10000;
    put_pair(end - 8, high / 100);
    put_pair(end - 6, high % 100);
    put_pair(end - 4, low / 100);
    put_pair(end - 2, low % 100);
}

// Writes the decimal digits of value so that they end just before `end`
// (at most 20 of them); returns where they start. Long values are cut into
// pieces of eight digits, each made on its own: one division by 100 after
// another would make every digit wait for the last.
template <class Unsigned>
inline char *decimal_digits_of(char *end, Unsigned value) {
    constexpr uint32_t PIECE = 100000000;
    if (value < PIECE) return small_decimal_digits(end, static_cast<uint32_t>(value));
    Unsigned high = value / PIECE;
    eight_digits(end, static_cast<uint32_t>(value - high * PIECE));
    end -= 8;
    if (high >= PIECE) {
        const Unsigned top = high / PIECE;
        eight_digits(end, static_cast<uint32_t>(high - top * PIECE));
        end -= 8;
        high = top;
    }
    return small_decimal_digits(end, static_cast<uint32_t>(high));
}

inline char *decimal_digits(char *end, unsigned long long value) {
    return decimal_digits_of(end, value);
}

inline constexpr const char *LOWER_DIGITS = "0123456789abcdef";
inline constexpr const char *UPPER_DIGITS = "0123456789ABCDEF";

// Writes the digits of value in base 2^shift (octal, hexadecimal) so that
// they end just before `end`.
inline void power_of_two_digits(char *end, unsigned long long value, int shift,
                                const char *letters) {
    const unsigned mask = (1u << shift) - 1;
    do {
        *--end = letters[value & mask];
        value >>= shift;
    } while (value != 0);
}

// 10 to the power of the index: the smallest numbers of each digit count.
inline constexpr std::array<unsigned long long, 20> powers_of_ten = [] {
    std::array<unsigned long long, 20> powers{};
    unsigned long long power = 1;
    for (auto &p : powers) {
        p = power;
        power *= 10; // wraps after the last, unused
    }
    return powers;
}();

// The number of decimal digits of value (1 for 0).
inline size_t decimal_length(unsigned long long value) {
    value |= 1; // as many digits, and a bit to measure
    // 1233 / 4096 is just above log10(2): the estimate is the count or one fewer.
    const size_t estimate = static_cast<size_t>(std::bit_width(value)) * 1233 >> 12;
    return estimate + (value >= powers_of_ten[estimate] ? 1 : 0);
}

// A decimal with its sign and no padding. The digits go straight to their
// place where they fit: made in a scratch buffer and copied, they would be
// read back by wider loads than wrote them, which stalls the processor.
template <class Unsigned>
inline void put_decimal_of(Sink &out, Unsigned magnitude, bool negative) {
    const size_t length = decimal_length(magnitude) + (negative ? 1 : 0);
    if (char *at = out.claim(length)) [[likely]] {
        decimal_digits_of(at + length, magnitude);
        if (negative) at[0] = '-';
        return;
    }
    char buffer[24];
    char *const end = buffer + sizeof buffer;
    char *digits = decimal_digits_of(end, magnitude);
    if (negative) *--digits = '-';
    put_cut(out, digits, static_cast<size_t>(end - digits));
}

inline void put_decimal(Sink &out, unsigned long long magnitude, bool negative) {
    put_decimal_of(out, magnitude, negative);
}
inline void put_decimal32(Sink &out, uint32_t magnitude, bool negative) {
    put_decimal_of(out, magnitude, negative);
}

// d i o u x X: `value` as read from the list, cut to the length code `len`.
void write_integer(Sink &out, const Piece &piece, long long value, int len);
// s (and every text the engine makes: errno, wide and extension texts).
void write_text(Sink &out, const Piece &piece, const char *text);
// c
void write_char(Sink &out, const Piece &piece, int value);
// e E f g G of a double. False where the C library's formatter is needed.
bool write_real(Sink &out, const Piece &piece, double value);

} // namespace ztc::printf_engine

#endif
