// Parsing and numbering: one pass over the format builds the conversion
// records, a second gives each record that reads an argument its number.
#include <array>
#include <cstring>

#include "base/ztc/os/printf/internal.hpp"

namespace ztc::printf_engine {
namespace {

constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr bool is_flag(char c) {
    return c == ' ' || c == '#' || c == '+' || c == '-' || c == '0';
}

// Conversion letter -> argument type; any other letter ends a specification
// that prints nothing of its own.
constexpr std::array<int8_t, 256> conversion_types = [] {
    std::array<int8_t, 256> types{};
    types.fill(ZT_PRINTF_TYPE_NONE);
    for (char c : {'d', 'i'}) types[static_cast<unsigned char>(c)] = ZT_PRINTF_TYPE_INT;
    for (char c : {'o', 'u', 'x', 'X'}) types[static_cast<unsigned char>(c)] = ZT_PRINTF_TYPE_UINT;
    for (char c : {'e', 'E', 'f', 'g', 'G'})
        types[static_cast<unsigned char>(c)] = ZT_PRINTF_TYPE_DOUBLE;
    types['c'] = ZT_PRINTF_TYPE_CHAR;
    types['s'] = ZT_PRINTF_TYPE_STRING;
    types['p'] = ZT_PRINTF_TYPE_POINTER;
    types['n'] = ZT_PRINTF_TYPE_COUNT;
    types['m'] = ZT_PRINTF_TYPE_ERRNO;
    return types;
}();

constexpr unsigned ALL_LENGTHS = length_bit(ZT_PRINTF_LEN_I64 + 1) - 1;

// Type -> the length modifier codes it accepts.
constexpr std::array<unsigned, ZT_PRINTF_TYPE_PRECISION + 1> accepted_lengths = {
    /* INVALID */ 0,
    /* NONE */ ALL_LENGTHS,
    /* INT */ ALL_LENGTHS & ~length_bit(ZT_PRINTF_LEN_CAPITAL_L),
    /* UINT */ ALL_LENGTHS & ~length_bit(ZT_PRINTF_LEN_CAPITAL_L) & ~length_bit(ZT_PRINTF_LEN_T),
    /* DOUBLE */ length_bit(ZT_PRINTF_LEN_NONE) | length_bit(ZT_PRINTF_LEN_CAPITAL_L),
    /* CHAR */ length_bit(ZT_PRINTF_LEN_NONE) | length_bit(ZT_PRINTF_LEN_L),
    /* STRING */ length_bit(ZT_PRINTF_LEN_NONE) | length_bit(ZT_PRINTF_LEN_L),
    /* POINTER */ length_bit(ZT_PRINTF_LEN_NONE),
    /* COUNT */ length_bit(ZT_PRINTF_LEN_NONE) | length_bit(ZT_PRINTF_LEN_H) |
        length_bit(ZT_PRINTF_LEN_HH) | length_bit(ZT_PRINTF_LEN_L) | length_bit(ZT_PRINTF_LEN_LL),
    /* ERRNO */ length_bit(ZT_PRINTF_LEN_NONE),
    /* WIDTH */ length_bit(ZT_PRINTF_LEN_NONE),
    /* PRECISION */ length_bit(ZT_PRINTF_LEN_NONE),
};

// A length letter: its code, the code when the letter is doubled (0: it is
// never doubled) and the letter that stands for it in the rebuilt specification.
struct LengthLetter {
    int8_t code;
    int8_t doubled;
    char kept;
};
constexpr std::array<LengthLetter, 256> length_letters = [] {
    std::array<LengthLetter, 256> letters{};
    letters['h'] = {ZT_PRINTF_LEN_H, ZT_PRINTF_LEN_HH, 'h'};
    letters['l'] = {ZT_PRINTF_LEN_L, ZT_PRINTF_LEN_LL, 'l'};
    letters['L'] = {ZT_PRINTF_LEN_CAPITAL_L, 0, 'L'};
    letters['j'] = {ZT_PRINTF_LEN_J, 0, 'j'};
    letters['z'] = {ZT_PRINTF_LEN_Z, 0, 'z'};
    letters['t'] = {ZT_PRINTF_LEN_T, 0, 't'};
    letters['q'] = {ZT_PRINTF_LEN_I64, 0, 'l'};
    letters['I'] = {ZT_PRINTF_LEN_Z, 0, 'z'}; // "I32" and "I64" are looked for first
    return letters;
}();

enum class State { text, flags, width, width_star, precision, precision_star, length };

class Parser {
  public:
    Parser(Arg *args, ParsedFormat &parsed) : args_(args), parsed_(parsed) {}

    Failure parse(const char *fmt);
    Failure number();

  private:
    Arg &current() { return args_[parsed_.arg_count]; }
    Failure start_record(const char *&p);
    Failure append(char c, int check);
    Failure read_star(const char *&p, bool precision);
    Failure length_or_conversion(const char *&p, char c);
    Failure conversion(const char *&p, char c);
    void extension(const char *&p);
    Failure count_unnumbered();
    bool all_simple() const;
    bool end_reads_ahead(const char *fmt, const char *end) const;

    Arg *args_;
    ParsedFormat &parsed_;
    State state_ = State::text;
    // The record being built carries no number and has not yet met the
    // mixing check: it meets it once it is known to read an argument, so
    // "%%" and "%m" may stand beside numbered conversions.
    bool unnumbered_pending_ = false;
};

Failure Parser::append(char c, int check) {
    Arg &arg = current();
    if (arg.cs_len + 1 >= MAX_CONVERSION_SPEC_LEN) return {check, 0};
    arg.cs[arg.cs_len++] = c;
    arg.cs[arg.cs_len] = '\0';
    return {};
}

Failure Parser::count_unnumbered() {
    if (!unnumbered_pending_) return {};
    unnumbered_pending_ = false;
    if (parsed_.arg_numbering == ZT_PRINTF_ARG_NUMBERING_POSITIONAL) return {CHECK_NUMBERING, 0};
    parsed_.arg_numbering = ZT_PRINTF_ARG_NUMBERING_SEQUENTIAL;
    return {};
}

Failure Parser::start_record(const char *&p) {
    if (parsed_.arg_count >= MAX_VARARG_COUNT) return {CHECK_TABLE_FULL, 0};
    Arg &arg = current();
    arg = Arg{};
    arg.cs[0] = '%';
    arg.cs_len = 1;
    arg.fmt_start = p;
    ++p;
    unnumbered_pending_ = false;
    PositionScan scan = scan_position(p);
    if (scan.positional) {
        arg.vararg_number = static_cast<int32_t>(scan.number);
        if (scan.number < 1 || scan.number >= MAX_VARARG_COUNT)
            return {CHECK_NUMBERING, scan.number};
        p = scan.rest;
        if (parsed_.arg_numbering == ZT_PRINTF_ARG_NUMBERING_SEQUENTIAL)
            return {CHECK_NUMBERING, scan.number};
        parsed_.arg_numbering = ZT_PRINTF_ARG_NUMBERING_POSITIONAL;
    } else {
        unnumbered_pending_ = true;
    }
    state_ = State::flags;
    return {};
}

Failure Parser::read_star(const char *&p, bool precision) {
    const int table_check = precision ? CHECK_PRECISION_TABLE_FULL : CHECK_WIDTH_TABLE_FULL;
    const int numbering_check = precision ? CHECK_PRECISION_NUMBERING : CHECK_WIDTH_NUMBERING;
    if (parsed_.arg_count + 1 > MAX_VARARG_COUNT - 1) return {table_check, 0};
    // The conversion reads its `*` arguments, so it takes part in numbering now.
    if (Failure f = count_unnumbered()) return f;

    args_[parsed_.arg_count + 1] = current();
    Arg &star = current();
    star = Arg{};
    star.type = precision ? ZT_PRINTF_TYPE_PRECISION : ZT_PRINTF_TYPE_WIDTH;

    int kind = ZT_PRINTF_ARG_NUMBERING_SEQUENTIAL;
    PositionScan scan = scan_position(p);
    if (scan.positional) {
        star.vararg_number = static_cast<int32_t>(scan.number);
        if (scan.number < 1 || scan.number >= MAX_VARARG_COUNT)
            return {numbering_check, scan.number};
        p = scan.rest;
        kind = ZT_PRINTF_ARG_NUMBERING_POSITIONAL;
    }
    if (parsed_.arg_numbering == ZT_PRINTF_ARG_NUMBERING_UNKNOWN) parsed_.arg_numbering = kind;
    if (parsed_.arg_numbering != kind) return {numbering_check, scan.positional ? scan.number : 0};

    ++parsed_.arg_count;
    state_ = precision ? State::precision_star : State::width_star;
    return {};
}

Failure Parser::length_or_conversion(const char *&p, char c) {
    const LengthLetter &letter = length_letters[static_cast<unsigned char>(c)];
    if (letter.code == 0) return conversion(p, c);

    Arg &arg = current();
    arg.len = letter.code;
    if (c == 'I' && ((p[0] == '3' && p[1] == '2') || (p[0] == '6' && p[1] == '4'))) {
        if (p[0] == '3') {
            arg.len = ZT_PRINTF_LEN_I32;
            arg.cs[--arg.cs_len] = '\0';
        } else {
            arg.len = ZT_PRINTF_LEN_I64;
            arg.cs[arg.cs_len - 1] = 'l';
        }
        p += 2;
    } else if (letter.doubled != 0 && *p == c) {
        if (Failure f = append(c, CHECK_LENGTH_SPEC_LEN)) return f;
        arg.len = letter.doubled;
        ++p;
    } else {
        arg.cs[arg.cs_len - 1] = letter.kept;
    }
    state_ = State::length;
    return {};
}

void Parser::extension(const char *&p) {
    const char *name = p + 1;
    const char *q = name;
    while (*q != '\0' && *q != '}' && *q != '%') ++q;
    if (*q != '}') return;
    const RegistrySlot *slot = registry_find(std::string_view(name, static_cast<size_t>(q - name)));
    if (slot == nullptr) return;
    current().ext = slot;
    p = q + 1;
}

Failure Parser::conversion(const char *&p, char c) {
    Arg &arg = current();
    arg.type = conversion_types[static_cast<unsigned char>(c)];
    if (arg.type != ZT_PRINTF_TYPE_NONE && arg.type != ZT_PRINTF_TYPE_ERRNO) {
        if (Failure f = count_unnumbered()) return f;
    }

    if (c == 'm') arg.cs[arg.cs_len - 1] = 's';
    if ((c == 'c' || c == 's') && arg.len == ZT_PRINTF_LEN_L) {
        // The wide value is printed as UTF-8 text.
        arg.cs[arg.cs_len - 2] = 's';
        arg.cs[--arg.cs_len] = '\0';
    }
    if (c == 'p' && *p == '{') extension(p);

    if ((accepted_lengths[arg.type] & length_bit(arg.len)) == 0) return {CHECK_VALID_LENGTH, 0};

    arg.fmt_end = p;
    decode_piece(arg);
    ++parsed_.arg_count;
    state_ = State::text;
    return {};
}

Failure Parser::parse(const char *fmt) {
    const char *p = fmt;
    while (*p != '\0') {
        if (state_ == State::text) {
            // Literal text is passed over in one search, not a byte at a time.
            p = strchrnul(p, '%');
            if (*p == '\0') break;
            if (Failure f = start_record(p)) return f;
            continue;
        }

        const char c = *p++;
        if (Failure f = append(c, CHECK_SPEC_LEN)) return f;
        switch (state_) {
        case State::flags:
            if (is_flag(c)) {
                Arg &arg = current();
                if (strchr(arg.cs, c) != &arg.cs[arg.cs_len - 1]) return {CHECK_DUPLICATE_FLAG, c};
                break;
            }
            [[fallthrough]];
        case State::width:
            if (is_digit(c)) {
                state_ = State::width;
            } else if (c == '*') {
                if (Failure f = read_star(p, false)) return f;
            } else if (c == '.') {
                state_ = State::precision;
            } else if (Failure f = length_or_conversion(p, c)) {
                return f;
            }
            break;
        case State::width_star:
            if (c == '.') {
                state_ = State::precision;
            } else if (Failure f = length_or_conversion(p, c)) {
                return f;
            }
            break;
        case State::precision:
            if (c == '-') return {CHECK_NEGATIVE_PRECISION, 0};
            if (is_digit(c)) break;
            if (c == '*') {
                if (Failure f = read_star(p, true)) return f;
            } else if (Failure f = length_or_conversion(p, c)) {
                return f;
            }
            break;
        case State::precision_star:
            if (Failure f = length_or_conversion(p, c)) return f;
            break;
        case State::length:
            if (Failure f = conversion(p, c)) return f;
            break;
        case State::text:
            break;
        }
    }
    // An unfinished specification is dropped: its characters stay literal text.
    parsed_.format_end = p;
    parsed_.unfinished = state_ != State::text || end_reads_ahead(fmt, p);
    return {};
}

// Whether text after the format's end could change how its last conversion is read: the
// parser scans ahead for a positional number, past an "I" for "32" or "64", and past a "p{"
// for the closing "}".
bool Parser::end_reads_ahead(const char *fmt, const char *end) const {
    // After a "%" or "*" a positional number is scanned: white space, a sign, digits, "$" and
    // one more character. A tail that such a scan could still be reading may be continued.
    auto in_scan = [](char c) {
        return is_space(c) || is_digit(c) || c == '+' || c == '-' || c == '$';
    };
    const char *p = end;
    while (p > fmt && in_scan(p[-1])) --p;
    if (p > fmt && (p[-1] == '%' || p[-1] == '*')) {
        while (is_space(*p)) ++p;
        if (*p == '+' || *p == '-') ++p;
        const char *digits = p;
        while (is_digit(*p)) ++p;
        if (p != digits && *p == '$') ++p;
        if (p == end) return true;
    }
    if (end - fmt >= 2 && end[-2] == 'I' && (end[-1] == '3' || end[-1] == '6')) return true;
    if (parsed_.arg_count == 0) return false;
    const Arg &last = args_[parsed_.arg_count - 1];
    return last.type == ZT_PRINTF_TYPE_POINTER && last.ext == nullptr && *last.fmt_end == '{' &&
           strpbrk(last.fmt_end + 1, "}%") == nullptr;
}

bool Parser::all_simple() const {
    for (int i = 0; i < parsed_.arg_count; ++i) {
        const Arg &arg = args_[i];
        switch (arg.type) {
        case ZT_PRINTF_TYPE_NONE:
            break;
        case ZT_PRINTF_TYPE_INT:
        case ZT_PRINTF_TYPE_UINT:
        case ZT_PRINTF_TYPE_DOUBLE:
            if (!arg.piece.own) return false;
            break;
        case ZT_PRINTF_TYPE_CHAR:
        case ZT_PRINTF_TYPE_STRING:
            if (!arg.piece.own || arg.len == ZT_PRINTF_LEN_L) return false;
            break;
        default: // `*`, pointers, extensions, counts, errno
            return false;
        }
    }
    return true;
}

Failure Parser::number() {
    const bool positional = parsed_.arg_numbering == ZT_PRINTF_ARG_NUMBERING_POSITIONAL;
    int values = 0;
    bool reads_errno = false;
    for (int i = 0; i < parsed_.arg_count; ++i) {
        Arg &arg = args_[i];
        if (arg.type == ZT_PRINTF_TYPE_NONE) {
            if (arg.vararg_number != 0) return {CHECK_NUMBERED_NONE, 0};
        } else if (arg.type == ZT_PRINTF_TYPE_ERRNO) {
            if (arg.vararg_number != 0) return {CHECK_NUMBERED_ERRNO, 0};
            reads_errno = true;
        } else if (positional) {
            if (arg.vararg_number > values) values = arg.vararg_number;
        } else {
            arg.vararg_number = ++values;
        }
    }
    parsed_.value_count = values;
    parsed_.simple = !positional && !reads_errno && all_simple();
    if (reads_errno) {
        parsed_.errno_number = values + 1;
        for (int i = 0; i < parsed_.arg_count; ++i) {
            if (args_[i].type == ZT_PRINTF_TYPE_ERRNO) args_[i].vararg_number = values + 1;
        }
    }
    return {};
}

} // namespace

PositionScan scan_position(const char *text) {
    const char *p = text;
    while (is_space(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!is_digit(*p)) return {};

    // As strtoul: saturate on overflow, negate otherwise; then keep 32 bits.
    uint64_t value = 0;
    bool overflow = false;
    for (; is_digit(*p); ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) overflow = true;
        if (!overflow) value = value * 10 + digit;
    }
    if (overflow) {
        value = UINT64_MAX;
    } else if (negative) {
        value = 0 - value;
    }
    if (p[0] != '$' || p[1] == '\0') return {};
    return {true, static_cast<uint32_t>(value), p + 1};
}

Failure parse_format(const char *fmt, Arg *args, ParsedFormat &parsed) {
    parsed = ParsedFormat{};
    Parser parser(args, parsed);
    if (Failure f = parser.parse(fmt)) return f;
    return parser.number();
}

} // namespace ztc::printf_engine
