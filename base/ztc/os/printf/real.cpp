// e E f g G of a double. Where up to 19 digits are shown and the value scaled
// to them is exact in 128-bit integers, the digits are made from that integer;
// elsewhere std::to_chars, which rounds exactly as printf does for a given
// precision. The alternate form, a decimal point other than ".", and texts
// longer than the local buffer stay with snprintf.
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

unsigned bit_width128(unsigned __int128 value) {
    const auto high = static_cast<uint64_t>(value >> 64);
    return high != 0 ? 64 + static_cast<unsigned>(std::bit_width(high))
                     : static_cast<unsigned>(std::bit_width(static_cast<uint64_t>(value)));
}

// |magnitude| times 10^power, rounded to the nearest integer with ties to even,
// as snprintf rounds the exact binary value: the mantissa times (or over) the
// power of ten is exact in 128 bits, and the binary exponent only shifts it.
// False where |power| is over 19 or a step or the result does not fit.
bool scaled_exactly(double magnitude, int power, uint64_t &scaled) {
    if (power > 19 || power < -19) return false;
    const uint64_t bits = std::bit_cast<uint64_t>(magnitude);
    int biased = static_cast<int>(bits >> 52) & 0x7ff;
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0) {
        biased = 1; // subnormal
    } else {
        mantissa |= uint64_t{1} << 52;
    }
    const int exponent = biased - 1075;
    unsigned __int128 product = mantissa, divisor = 1;
    if (power >= 0)
        product *= powers_of_ten[static_cast<size_t>(power)];
    else
        divisor = powers_of_ten[static_cast<size_t>(-power)];
    if (exponent >= 0) {
        // An integer: it fits where no bit reaches past the 127th.
        if (bit_width128(product) + static_cast<unsigned>(exponent) > 127) return false;
        product <<= exponent;
    } else if (divisor != 1) {
        if (bit_width128(divisor) + static_cast<unsigned>(-exponent) > 127) return false;
        divisor <<= -exponent;
    } else {
        // The product is below 2^117: from this shift on it is below half a unit.
        const int shift = -exponent;
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
    unsigned __int128 quotient = product / divisor;
    const unsigned __int128 remainder = product - quotient * divisor, rest = divisor - remainder;
    if (remainder > rest || (remainder == rest && (quotient & 1) != 0)) ++quotient;
    if ((quotient >> 64) != 0) return false;
    scaled = static_cast<uint64_t>(quotient);
    return true;
}

// Powers of ten around 1 as doubles, for a first guess of a value's decimal exponent.
constexpr int kGuessLow = -30, kGuessHigh = 30;
constexpr std::array<double, kGuessHigh - kGuessLow + 1> guess_powers = [] {
    std::array<double, kGuessHigh - kGuessLow + 1> powers{};
    for (int i = kGuessLow; i <= kGuessHigh; ++i) {
        double p = 1;
        for (int j = 0; j < (i < 0 ? -i : i); ++j) p *= 10;
        powers[static_cast<size_t>(i - kGuessLow)] = i < 0 ? 1 / p : p;
    }
    return powers;
}();

// |magnitude| (not 0) rounded to `digits` significant digits (1 to 19), as %e
// rounds it: those digits as one integer, and the decimal exponent of the first.
// False where the exact method does not reach.
bool significant_digits(double magnitude, int digits, uint64_t &scaled, int &exponent10) {
    // magnitude is in [2^binary, 2^(binary+1))
    const uint64_t bits = std::bit_cast<uint64_t>(magnitude);
    const int biased = static_cast<int>(bits >> 52);
    const int binary = biased != 0 ? biased - 1023 : std::bit_width(bits) - 1075;
    // floor(binary * log10(2)): the decimal exponent or one less.
    int guess = (binary * 78913) >> 18;
    if (guess + 1 >= kGuessLow && guess + 1 <= kGuessHigh &&
        magnitude >= guess_powers[static_cast<size_t>(guess + 1 - kGuessLow)])
        ++guess;
    // The guess may still be one off either way; rounding may carry into a new digit.
    const uint64_t lowest = powers_of_ten[static_cast<size_t>(digits - 1)],
                   above = powers_of_ten[static_cast<size_t>(digits)];
    for (int round = 0; round < 4; ++round) {
        if (!scaled_exactly(magnitude, digits - 1 - guess, scaled)) return false;
        if (scaled >= above) {
            ++guess;
        } else if (scaled < lowest) {
            --guess;
        } else {
            // 10^(digits-1) is also what a guess one too high rounds up to.
            uint64_t below = 0;
            if (scaled == lowest && scaled_exactly(magnitude, digits - guess, below) &&
                below < above) {
                scaled = below;
                --guess;
            }
            exponent10 = guess;
            return true;
        }
    }
    return false;
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

// %g drops the fraction's trailing zeros, and its point when nothing is left.
char *without_trailing_zeros(char *end) {
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
    return end;
}

// e+dd, at least two digits, at `at`; returns the end.
char *exponent_text(char *at, int exponent10, bool upper) {
    *at++ = upper ? 'E' : 'e';
    *at++ = exponent10 < 0 ? '-' : '+';
    const uint32_t magnitude = static_cast<uint32_t>(exponent10 < 0 ? -exponent10 : exponent10);
    if (magnitude >= 100) *at++ = static_cast<char>('0' + magnitude / 100);
    put_pair(at, magnitude % 100);
    return at + 2;
}

// e E g G through the exact method: the text's start and end in buffer
// (at least 56 bytes), or false where to_chars is needed.
bool exact_exponent_text(const Piece &piece, double magnitude, int precision, bool upper,
                         char *buffer, const char *&start, const char *&end) {
    const bool general = piece.letter == 'g' || piece.letter == 'G';
    const int digits = general ? (precision == 0 ? 1 : precision) : precision + 1;
    if (digits > 19) return false;
    uint64_t scaled = 0;
    int exponent10 = 0;
    if (magnitude != 0 && !significant_digits(magnitude, digits, scaled, exponent10)) return false;
    char *const mantissa_end = buffer + 48;
    if (general && exponent10 >= -4 && exponent10 < digits) {
        // The digits as %f shows them with digits - 1 - exponent10 decimals.
        const int decimals = digits - 1 - exponent10; // 19 at most: the scaling had that power
        start = fixed_text(mantissa_end, scaled, decimals);
        end = decimals > 0 ? without_trailing_zeros(mantissa_end) : mantissa_end;
        return true;
    }
    start = fixed_text(mantissa_end, scaled, digits - 1);
    char *const at = general && digits > 1 ? without_trailing_zeros(mantissa_end) : mantissa_end;
    end = exponent_text(at, exponent10, upper);
    return true;
}

// snprintf follows the locale's decimal point; to_chars always writes ".".
bool decimal_point_is_dot() {
    const char *point = nl_langinfo(RADIXCHAR);
    return point[0] == '.' && point[1] == '\0';
}

// Through to_chars, at the start of buffer: false when it does not fit.
bool chars_of(char *buffer, double magnitude, char letter, int precision, size_t &length) {
    const auto [end, error] =
        std::to_chars(buffer, buffer + REAL_TEXT_SIZE, magnitude, format_of(letter), precision);
    if (error != std::errc()) return false;
    length = static_cast<size_t>(end - buffer);
    return true;
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
    const double magnitude = std::fabs(value);
    const char *text = buffer;
    size_t length;
    uint64_t scaled;
    if (piece.letter == 'f') {
        if (scaled_exactly(magnitude, precision, scaled)) {
            // Most fixed-point values: their digits as one integer, without to_chars.
            char *const end = buffer + sizeof buffer;
            text = fixed_text(end, scaled, precision);
            length = static_cast<size_t>(end - text);
        } else if (!chars_of(buffer, magnitude, piece.letter, precision, length)) {
            return false;
        }
    } else if (const char *end;
               exact_exponent_text(piece, magnitude, precision, upper, buffer, text, end)) {
        length = static_cast<size_t>(end - text);
    } else {
        text = buffer;
        if (!chars_of(buffer, magnitude, piece.letter, precision, length)) return false;
        if (upper) {
            for (size_t i = 0; i < length; ++i) {
                if (buffer[i] == 'e') buffer[i] = 'E';
            }
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
