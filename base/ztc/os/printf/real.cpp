// e E f g G of a double through std::to_chars, which rounds exactly as printf
// does for a given precision. The alternate form, a decimal point other than
// ".", and texts longer than the local buffer stay with snprintf.
#include <langinfo.h>

#include <charconv>
#include <cmath>

#include "base/ztc/os/printf/writers.hpp"

namespace ztc::printf_engine {
namespace {

constexpr int DEFAULT_PRECISION = 6;
constexpr size_t REAL_TEXT_SIZE = 128;

std::chars_format format_of(char letter) {
    switch (letter) {
    case 'f':
        return std::chars_format::fixed;
    case 'e':
    case 'E':
        return std::chars_format::scientific;
    default: // g G
        return std::chars_format::general;
    }
}

// snprintf follows the locale's decimal point; to_chars always writes ".".
bool decimal_point_is_dot() {
    const char *point = nl_langinfo(RADIXCHAR);
    return point[0] == '.' && point[1] == '\0';
}

} // namespace

bool write_real(Sink &out, const Piece &piece, double value) {
    if ((piece.flags & FLAG_HASH) || !decimal_point_is_dot()) return false;
    const bool upper = piece.letter == 'E' || piece.letter == 'G';

    char sign = 0;
    if (std::signbit(value)) {
        sign = '-';
    } else if (piece.flags & FLAG_PLUS) {
        sign = '+';
    } else if (piece.flags & FLAG_SPACE) {
        sign = ' ';
    }
    const size_t sign_len = sign != 0 ? 1 : 0;

    // Infinities and NaNs are padded with spaces only.
    if (!std::isfinite(value)) {
        const char *text = std::isinf(value) ? (upper ? "INF" : "inf") : (upper ? "NAN" : "nan");
        put_padded(out, piece, &sign, sign_len, 0, text, 3);
        return true;
    }

    char text[REAL_TEXT_SIZE];
    const int precision = piece.precision < 0 ? DEFAULT_PRECISION : piece.precision;
    const auto [end, error] = std::to_chars(text, text + sizeof text, std::fabs(value),
                                            format_of(piece.letter), precision);
    if (error != std::errc()) return false;
    const size_t length = static_cast<size_t>(end - text);
    if (upper) {
        for (size_t i = 0; i < length; ++i) {
            if (text[i] == 'e') text[i] = 'E';
        }
    }

    size_t zeros = 0;
    if ((piece.flags & FLAG_ZERO) && !(piece.flags & FLAG_MINUS) &&
        piece.width > sign_len + length) {
        zeros = piece.width - sign_len - length;
    }
    put_padded(out, piece, &sign, sign_len, zeros, text, length);
    return true;
}

} // namespace ztc::printf_engine
