// Fetching the argument values in number order and writing the records, with
// the literal text between them, into the caller's buffer.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "base/ztc/os/path.h"
#include "base/ztc/os/printf/internal.hpp"
#include "base/ztc/os/printf/writers.hpp"

namespace ztc::printf_engine {
namespace {

// One argument value, wide enough for any of them.
union Value {
    long long integer;
    double real;
    long double long_real;
    const void *pointer;
};

constexpr bool is_wide(const Arg &arg) {
    return arg.len == ZT_PRINTF_LEN_L &&
           (arg.type == ZT_PRINTF_TYPE_CHAR || arg.type == ZT_PRINTF_TYPE_STRING);
}

template <class T>
int print_piece(char *dst, size_t space, const char *cs, const Stars &stars, T value) {
    if (stars.has_width && stars.has_precision) {
        return snprintf(dst, space, cs, stars.width, stars.precision, value);
    }
    if (stars.has_width) return snprintf(dst, space, cs, stars.width, value);
    if (stars.has_precision) return snprintf(dst, space, cs, stars.precision, value);
    return snprintf(dst, space, cs, value);
}

// Turns one wide text into UTF-8 in the depth's shared buffer. With a limit, the text is
// read only until its UTF-8 form reaches that many bytes: a precision bounds what a
// conversion reads, so a wide array needs no terminator within it.
const char *wide_to_utf8(MbsSlot &mbs, const wchar_t *text, size_t limit = SIZE_MAX) {
    const int space = MBSBUFFER_TEXT_SIZE - 1 - mbs.fill;
    if (space <= 0) return "mbsbuffer_exceeded";
    char *start = mbs.text + mbs.fill;
    if (limit == SIZE_MAX) {
        const size_t written = zt_wcs_to_utf8(start, text, static_cast<size_t>(space));
        if (written != ZT_UTF_ERROR) mbs.fill += static_cast<int32_t>(written);
    } else {
        char *end = start + space, *d = start;
        bool converted = true;
        for (const wchar_t *s = text; static_cast<size_t>(d - start) < limit && *s != L'\0'; ++s) {
            const wchar_t *one = s;
            if (zt_utf32_to_utf8(&one, s + 1, &d, end, ZT_UTF_LENIENT) != ZT_UTF_OK) {
                converted = false;
                break;
            }
        }
        if (converted) mbs.fill += static_cast<int32_t>(d - start);
    }
    mbs.text[mbs.fill++] = '\0';
    return start;
}

// The precision written in a rebuilt conversion text: -1 for none, -2 for a `*`.
long long written_precision(const char *cs) {
    const char *p = strchr(cs, '.');
    if (p == nullptr) return -1;
    if (*++p == '*') return -2;
    long long precision = 0;
    for (; *p >= '0' && *p <= '9' && precision < INT_MAX; ++p)
        precision = precision * 10 + (*p - '0');
    return precision;
}

// "[n]" and the system's message for n.
void compose_errno_text(char (&text)[ERRNO_TEXT_SIZE], int saved_errno) {
    int header = snprintf(text, sizeof text, "[%i]", saved_errno);
    if (header < 0) header = 0;
    if (header >= ERRNO_TEXT_SIZE) return;
    char *rest = text + header;
    const size_t rest_size = sizeof text - static_cast<size_t>(header);
    const char *message = strerror_r(saved_errno, rest, rest_size);
    if (message < rest || message >= rest + rest_size) snprintf(rest, rest_size, "%s", message);
}

class Renderer {
  public:
    Renderer(char *buf, size_t size, const char *fmt, const Arg *args, const ParsedFormat &parsed,
             MbsSlot &mbs)
        : out_{buf, size}, position_(fmt), args_(args), parsed_(parsed), mbs_(mbs) {}

    int run(const Frame &frame, int saved_errno, va_list ap);

  private:
    Failure fetch(va_list ap);
    size_t wide_limit(int number) const;
    void convert_wide_values();
    Value read_value(const Arg &arg, va_list ap);
    Failure print_records();
    Failure print(const Arg &arg, const Stars &stars);
    bool print_own(const Arg &arg, const Stars &stars, const Value &value);
    Failure print_delegated(const Arg &arg, const Stars &stars, const Value &value);
    Failure print_extension(const Arg &arg, const Stars &stars, const void *pointer);
    Failure add(int piece);
    Failure check_length() const;
    void copy_literal(const char *end);

    Sink out_;
    const char *position_;
    const Arg *args_; // left as parsed: a later call may reuse the table
    const ParsedFormat &parsed_;
    MbsSlot &mbs_;
    Value values_[MAX_VARARG_COUNT];
    struct WideValue {
        uint8_t number;
        bool character; // %lc: one character, made a text
    };
    WideValue wide_values_[MAX_VARARG_COUNT];
    int wide_count_ = 0;
    char errno_text_[ERRNO_TEXT_SIZE];
};

Value Renderer::read_value(const Arg &arg, va_list ap) {
    Value value{};
    switch (arg.type) {
    case ZT_PRINTF_TYPE_INT:
    case ZT_PRINTF_TYPE_UINT:
        value.integer = reads_64_bits(arg.len) ? va_arg(ap, long long) : va_arg(ap, int);
        break;
    case ZT_PRINTF_TYPE_DOUBLE:
        if (arg.len == ZT_PRINTF_LEN_CAPITAL_L) {
            value.long_real = va_arg(ap, long double);
        } else {
            value.real = va_arg(ap, double);
        }
        break;
    case ZT_PRINTF_TYPE_CHAR:
        value.integer = va_arg(ap, int); // a wide one is converted once all are read
        break;
    case ZT_PRINTF_TYPE_STRING:
        value.pointer = va_arg(ap, const void *);
        break;
    case ZT_PRINTF_TYPE_POINTER:
    case ZT_PRINTF_TYPE_COUNT:
        value.pointer = va_arg(ap, const void *);
        break;
    case ZT_PRINTF_TYPE_WIDTH:
    case ZT_PRINTF_TYPE_PRECISION:
        value.integer = va_arg(ap, int);
        break;
    default:
        break;
    }
    return value;
}

Failure Renderer::fetch(va_list ap) {
    const bool positional = parsed_.arg_numbering == ZT_PRINTF_ARG_NUMBERING_POSITIONAL;
    int from = 0; // unnumbered values are read once each, in table order
    for (int k = 1; k <= parsed_.value_count; ++k) {
        const Arg *first = nullptr;
        for (int i = from; i < parsed_.arg_count; ++i) {
            const Arg &arg = args_[i];
            if (arg.vararg_number != k) continue;
            if (first == nullptr) {
                first = &arg;
                if (positional) continue;
                from = i + 1;
                break;
            } else if (arg.len != first->len) {
                return {CHECK_SAME_LENGTH, 0};
            } else if (arg.type != first->type) {
                return {CHECK_SAME_TYPE, 0};
            }
        }
        if (first == nullptr) return {CHECK_MISSING_VARARG, k};
        values_[k - 1] = read_value(*first, ap);
        if (is_wide(*first))
            wide_values_[wide_count_++] = {static_cast<uint8_t>(k),
                                           first->type == ZT_PRINTF_TYPE_CHAR};
    }
    convert_wide_values();
    return {};
}

// The most bytes of a wide text that its conversions print; SIZE_MAX where one prints all.
size_t Renderer::wide_limit(int number) const {
    long long limit = -1;
    for (int i = 0; i < parsed_.arg_count; ++i) {
        const Arg &arg = args_[i];
        if (arg.vararg_number != number) continue;
        long long precision = written_precision(arg.cs);
        if (precision == -2) {
            // The `*` record stands just before its conversion; a negative value is none.
            const int star = static_cast<int>(values_[args_[i - 1].vararg_number - 1].integer);
            precision = star < 0 ? -1 : star;
        }
        if (precision < 0) return SIZE_MAX;
        if (precision > limit) limit = precision;
    }
    return limit < 0 ? SIZE_MAX : static_cast<size_t>(limit);
}

// Wide values become UTF-8 texts in number order, after every `*` value is known.
void Renderer::convert_wide_values() {
    for (int w = 0; w < wide_count_; ++w) {
        const WideValue wide = wide_values_[w];
        Value &value = values_[wide.number - 1];
        if (wide.character) {
            const wchar_t one[2] = {static_cast<wchar_t>(value.integer), L'\0'};
            value.pointer = wide_to_utf8(mbs_, one);
            continue;
        }
        const auto *text = static_cast<const wchar_t *>(value.pointer);
        value.pointer = text != nullptr ? wide_to_utf8(mbs_, text, wide_limit(wide.number))
                                        : wide_to_utf8(mbs_, L"(null)");
    }
}

Failure Renderer::add(int piece) {
    if (piece < 0) return {CHECK_PIECE_FAILED, 0};
    out_.count += static_cast<size_t>(piece);
    return check_length();
}

// The result is an int: a longer output is a fault of the format.
Failure Renderer::check_length() const {
    if (out_.count > INT_MAX) return {CHECK_PIECE_FAILED, 0};
    return {};
}

void Renderer::copy_literal(const char *end) {
    out_.put(position_, static_cast<size_t>(end - position_));
    position_ = end;
}

// The conversions whose bytes the engine writes itself.
bool Renderer::print_own(const Arg &arg, const Stars &stars, const Value &value) {
    Piece piece = arg.piece;
    if (!piece.own || !apply_stars(piece, stars)) return false;
    switch (arg.type) {
    case ZT_PRINTF_TYPE_INT:
    case ZT_PRINTF_TYPE_UINT:
        write_integer(out_, piece, value.integer, arg.len);
        return true;
    case ZT_PRINTF_TYPE_DOUBLE:
        return write_real(out_, piece, value.real);
    case ZT_PRINTF_TYPE_CHAR:
        if (is_wide(arg)) {
            write_text(out_, piece, static_cast<const char *>(value.pointer));
        } else {
            write_char(out_, piece, static_cast<int>(value.integer));
        }
        return true;
    case ZT_PRINTF_TYPE_STRING:
    case ZT_PRINTF_TYPE_ERRNO:
        write_text(out_, piece, static_cast<const char *>(value.pointer));
        return true;
    default:
        return false;
    }
}

Failure Renderer::print(const Arg &arg, const Stars &stars) {
    const Value &value = values_[arg.vararg_number - 1];
    if (arg.ext != nullptr) return print_extension(arg, stars, value.pointer);
    if (print_own(arg, stars, value)) return check_length();
    return print_delegated(arg, stars, value);
}

// Pieces handed to the C library's formatter, at their place in the buffer.
Failure Renderer::print_delegated(const Arg &arg, const Stars &stars, const Value &value) {
    const char *cs = arg.cs;
    char *cursor = out_.cursor();
    const size_t space = out_.space();
    switch (arg.type) {
    case ZT_PRINTF_TYPE_INT:
    case ZT_PRINTF_TYPE_UINT:
        if (reads_64_bits(arg.len))
            return add(print_piece(cursor, space, cs, stars, value.integer));
        return add(print_piece(cursor, space, cs, stars, static_cast<int>(value.integer)));
    case ZT_PRINTF_TYPE_DOUBLE:
        if (arg.len == ZT_PRINTF_LEN_CAPITAL_L) {
            return add(print_piece(cursor, space, cs, stars, value.long_real));
        }
        return add(print_piece(cursor, space, cs, stars, value.real));
    case ZT_PRINTF_TYPE_CHAR:
        if (is_wide(arg)) {
            return add(
                print_piece(cursor, space, cs, stars, static_cast<const char *>(value.pointer)));
        }
        return add(print_piece(cursor, space, cs, stars, static_cast<int>(value.integer)));
    case ZT_PRINTF_TYPE_STRING:
    case ZT_PRINTF_TYPE_ERRNO:
        return add(print_piece(cursor, space, cs, stars, static_cast<const char *>(value.pointer)));
    case ZT_PRINTF_TYPE_POINTER:
        return add(print_piece(cursor, space, cs, stars, value.pointer));
    default:
        return {};
    }
}

// The formatter's text is printed as "%s" under the flags, width and
// precision written for the conversion.
Failure Renderer::print_extension(const Arg &arg, const Stars &stars, const void *pointer) {
    char scratch[EXTENSION_SCRATCH_SIZE];
    scratch[0] = '\0';
    arg.ext->formatter(pointer, scratch, sizeof scratch);
    scratch[sizeof scratch - 1] = '\0';

    Piece piece = arg.piece;
    if (piece.own && apply_stars(piece, stars)) {
        write_text(out_, piece, scratch);
        return check_length();
    }
    char text_cs[MAX_CONVERSION_SPEC_LEN];
    memcpy(text_cs, arg.cs, sizeof text_cs);
    text_cs[arg.cs_len - 1] = 's';
    return add(print_piece(out_.cursor(), out_.space(), text_cs, stars,
                           static_cast<const char *>(scratch)));
}

Failure Renderer::print_records() {
    for (int i = 0; i < parsed_.arg_count; ++i) {
        Stars stars;
        if (args_[i].type == ZT_PRINTF_TYPE_WIDTH) {
            if (i + 1 >= parsed_.arg_count) return {CHECK_WIDTH_LAST, 0};
            stars.has_width = true;
            stars.width = static_cast<int>(values_[args_[i].vararg_number - 1].integer);
            ++i;
        }
        if (args_[i].type == ZT_PRINTF_TYPE_PRECISION) {
            if (i + 1 >= parsed_.arg_count) return {CHECK_PRECISION_LAST, 0};
            stars.has_precision = true;
            stars.precision = static_cast<int>(values_[args_[i].vararg_number - 1].integer);
            ++i;
        }
        const Arg &arg = args_[i];
        copy_literal(arg.fmt_start);
        if (arg.type == ZT_PRINTF_TYPE_NONE) {
            // Only the "%" goes; what follows it is literal text.
            position_ = arg.fmt_start + 1;
            continue;
        }
        if (arg.type == ZT_PRINTF_TYPE_COUNT) {
            void *target = const_cast<void *>(values_[arg.vararg_number - 1].pointer);
            const int count = static_cast<int>(out_.count);
            if (target != nullptr) {
                switch (arg.len) {
                case ZT_PRINTF_LEN_H:
                    *static_cast<short *>(target) = static_cast<short>(count);
                    break;
                case ZT_PRINTF_LEN_HH:
                    *static_cast<signed char *>(target) = static_cast<signed char>(count);
                    break;
                case ZT_PRINTF_LEN_L:
                case ZT_PRINTF_LEN_LL:
                    *static_cast<long long *>(target) = count;
                    break;
                default:
                    *static_cast<int *>(target) = count;
                    break;
                }
            }
        } else if (Failure f = print(arg, stars)) {
            return f;
        }
        position_ = arg.fmt_end;
    }
    return {};
}

int Renderer::run(const Frame &frame, int saved_errno, va_list ap) {
    put_frame_text(out_, frame.before);
    if (parsed_.errno_number != 0) {
        compose_errno_text(errno_text_, saved_errno);
        values_[parsed_.errno_number - 1].pointer = errno_text_;
    }
    if (Failure f = fetch(ap)) return write_failure(out_.buf, out_.size, f);
    if (Failure f = print_records()) return write_failure(out_.buf, out_.size, f);

    copy_literal(parsed_.format_end);
    out_.put(frame.after.data(), frame.after.size());
    if (Failure f = check_length()) return write_failure(out_.buf, out_.size, f);
    return out_.terminate();
}

} // namespace

int render_format(char *buf, size_t size, const char *fmt, const Arg *args,
                  const ParsedFormat &parsed, const Frame &frame, MbsSlot &mbs, int saved_errno,
                  va_list ap) {
    Renderer renderer(buf, size, fmt, args, parsed, mbs);
    return renderer.run(frame, saved_errno, ap);
}

} // namespace ztc::printf_engine
