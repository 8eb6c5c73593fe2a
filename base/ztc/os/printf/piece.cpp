// Flags, width and precision of one rebuilt conversion text, for the own writers.
#include <array>
#include <climits>

#include "base/ztc/os/printf/writers.hpp"

namespace ztc::printf_engine {
namespace {

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
