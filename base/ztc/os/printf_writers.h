// The engine's own writers for single conversions: the counting sink they
// write into, the decoded conversion they follow, and one writer per
// family of values. Each writes exactly the bytes the C library's snprintf
// writes for the same conversion and value.
#ifndef ZTC_OS_PRINTF_WRITERS_H
#define ZTC_OS_PRINTF_WRITERS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/ztc/os/printf_internal.h"

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
            memset(buf + count, c, n < room ? n : room);
        }
        count += n;
    }
    // Where the next byte goes and how much room is left, for a writer that
    // stores the piece itself (0 room once the buffer is full).
    char *cursor() const { return count < size ? buf + count : nullptr; }
    size_t space() const { return count < size ? size - count : 0; }
};

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

// Writes the decimal digits of value so that they end just before `end`
// (at most 20 of them); returns where they start.
char *decimal_digits(char *end, unsigned long long value);

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
