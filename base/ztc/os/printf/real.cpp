// e E f g G of a double through std::to_chars, which rounds exactly as printf
// does for a given precision. The alternate form, a decimal point other than
// ".", and texts longer than the local buffer stay with snprintf.
#include <langinfo.h>

#include <bit>
#include <cstring>
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

// |magnitude| times 10^precision, rounded to the nearest integer with ties to
// even, as snprintf rounds the exact binary value: the mantissa times the
// power of ten is exact in 128 bits, and the binary exponent only shifts it.
// False where the precision is over 19 or the result does not fit 64 bits.
bool scaled_exactly(double magnitude, int precision, uint64_t &scaled) {
    if (precision > 19) return false;
    const uint64_t bits = std::bit_cast<uint64_t>(magnitude);
    int biased = static_cast<int>(bits >> 52) & 0x7ff;
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0) {
        biased = 1; // subnormal
    } else {
        mantissa |= uint64_t{1} << 52;
    }
    const int exponent = biased - 1075;
    const unsigned __int128 product =
        static_cast<unsigned __int128>(mantissa) * powers_of_ten[static_cast<size_t>(precision)];
    if (exponent >= 0) {
        // An integer: it fits where no bit reaches past the 64th.
        if (exponent >= 64 || (product >> (64 - exponent)) != 0) return false;
        scaled = static_cast<uint64_t>(product << exponent);
        return true;
    }
    const int shift = -exponent;
    // The product is below 2^117: from this shift on it is below half a unit.
    if (shift > 117) {
        scaled = 0;
        return true;
    }
    unsigned __int128 quotient = product >> shift;
    const unsigned __int128 remainder = product - (quotient << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
    if ((quotient >> 64) != 0) return false;
    scaled = static_cast<uint64_t>(quotient);
    return true;
}

// The text of %f for a scaled value (see scaled_exactly), ending at `end`
// with at least 24 bytes before it; returns where it starts.
char *fixed_text(char *end, uint64_t scaled, int precision) {
    const uint64_t unit = powers_of_ten[static_cast<size_t>(precision)];
    char *at = end;
    if (precision > 0) {
        // Zeros under the whole fraction (at most 19 digits), then its digits.
        static constexpr char zeros[24] = {'0', '0', '0', '0', '0', '0', '0', '0',
                                           '0', '0', '0', '0', '0', '0', '0', '0',
                                           '0', '0', '0', '0', '0', '0', '0', '0'};
        memcpy(end - sizeof zeros, zeros, sizeof zeros);
        decimal_digits(end, scaled % unit);
        at = end - precision;
        *--at = '.';
    }
    return decimal_digits(at, scaled / unit);
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

    char buffer[REAL_TEXT_SIZE];
    const int precision = piece.precision < 0 ? DEFAULT_PRECISION : piece.precision;
    const char *text = buffer;
    size_t length;
    uint64_t scaled;
    if (piece.letter == 'f' && scaled_exactly(std::fabs(value), precision, scaled)) {
        // Most fixed-point values: their digits as one integer, without to_chars.
        char *const end = buffer + sizeof buffer;
        text = fixed_text(end, scaled, precision);
        length = static_cast<size_t>(end - text);
    } else {
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                                format_of(piece.letter), precision);
        if (error != std::errc()) return false;
        length = static_cast<size_t>(end - buffer);
    }
    if (upper) {
        for (size_t i = 0; i < length; ++i) {
            if (buffer[i] == 'e') buffer[i] = 'E';
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
