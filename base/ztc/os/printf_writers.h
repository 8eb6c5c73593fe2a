// The engine's own writers for single conversions: the counting sink they
// write into, the decoded specification they follow, and one writer per
// family of values. Each writes exactly the bytes the C library's snprintf
// writes for the same specification and value.
#ifndef ZTC_OS_PRINTF_WRITERS_H
#define ZTC_OS_PRINTF_WRITERS_H

#include <cstddef>
#include <cstring>

#include "base/ztc/os/printf_internal.h"

namespace ztc::printf_engine {

// The caller's buffer seen as a counting writer: every byte of the output is
// counted, the bytes that fit are stored. The terminating NUL is the caller's.
struct Sink {
    char *buf;
    size_t size;
    size_t count = 0; // length of the complete output so far

    void put(const char *text, size_t n) {
        if (count < size) {
            const size_t room = size - count;
            memcpy(buf + count, text, n < room ? n : room);
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

enum PieceFlag : unsigned {
    FLAG_MINUS = 1u << 0, // pad on the right
    FLAG_PLUS = 1u << 1,  // a sign for positive values too
    FLAG_SPACE = 1u << 2, // a space where a positive value has no sign
    FLAG_HASH = 1u << 3,  // alternate form
    FLAG_ZERO = 1u << 4,  // pad numbers with zeros after their sign
};

// One conversion's flags, width and precision, with `*` values applied.
struct Piece {
    unsigned flags = 0;
    size_t width = 0;
    int precision = -1; // -1: none given
    char letter = 0;
};

// Reads a record's rebuilt specification. False for a width or precision too
// large for the own writers; the C library's formatter takes those pieces.
bool decode_piece(const Arg &arg, const Stars &stars, Piece &piece);

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
