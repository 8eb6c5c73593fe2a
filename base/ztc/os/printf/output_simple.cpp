// The one-pass output of a simple format: every conversion reads one plain
// value in table order, so each value is read just as its record is printed,
// with no value table and no second walk. The bytes are those of the general
// output; only the work is less.
#include <climits>
#include <cstdio>

#include "base/ztc/os/printf/internal.hpp"
#include "base/ztc/os/printf/writers.hpp"

namespace ztc::printf_engine {
namespace {

// A double that the own writer leaves to snprintf, at its place in the buffer.
bool print_real(Sink &out, const Arg &arg, double value) {
    if (write_real(out, arg.piece, value)) return true;
    const int piece = snprintf(out.cursor(), out.space(), arg.cs, value);
    if (piece < 0) return false;
    out.count += static_cast<size_t>(piece);
    return true;
}

} // namespace

int render_simple(char *buf, size_t size, const Arg *args, const ParsedFormat &parsed,
                  const char *fmt, const Frame &frame, va_list ap) {
    Sink out{buf, size};
    put_frame_text(out, frame.before);
    const char *position = fmt;
    const Arg *const last = args + parsed.arg_count;
    for (const Arg *arg = args; arg != last; ++arg) {
        out.put(position, static_cast<size_t>(arg->fmt_start - position));
        switch (arg->type) {
        case ZT_PRINTF_TYPE_NONE:
            // Only the "%" goes; the rest of the conversion is literal text.
            position = arg->fmt_start + 1;
            continue;
        case ZT_PRINTF_TYPE_INT:
        case ZT_PRINTF_TYPE_UINT:
            write_integer(out, arg->piece,
                          reads_64_bits(arg->len) ? va_arg(ap, long long) : va_arg(ap, int),
                          arg->len);
            break;
        case ZT_PRINTF_TYPE_DOUBLE:
            if (!print_real(out, *arg, va_arg(ap, double)))
                return write_failure(buf, size, {CHECK_PIECE_FAILED, 0});
            break;
        case ZT_PRINTF_TYPE_CHAR:
            write_char(out, arg->piece, va_arg(ap, int));
            break;
        default: // ZT_PRINTF_TYPE_STRING
            write_text(out, arg->piece, va_arg(ap, const char *));
            break;
        }
        // The result is an int: a longer output is a fault of the format.
        if (out.count > INT_MAX) return write_failure(buf, size, {CHECK_PIECE_FAILED, 0});
        position = arg->fmt_end;
    }

    out.put(position, static_cast<size_t>(parsed.format_end - position));
    out.put(frame.after.data(), frame.after.size());
    if (out.count > INT_MAX) return write_failure(buf, size, {CHECK_PIECE_FAILED, 0});
    return out.terminate();
}

} // namespace ztc::printf_engine
