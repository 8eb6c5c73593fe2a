// Text writer: one line per print, the output's header format around the caller's message.
//
// The header's values (thread name, time text, module and function names) must print as
// they are, while the caller's message format is expanded over the whole line, so %n counts
// from the line's start and a rejected message replaces the whole line. The header is
// therefore rendered with a marker in the message's place, and the message is printed with
// the rendered text before and after it as literal text. Where that cannot tell where the
// message goes, the rendered text, its "%" doubled, becomes a second pass's format with the
// message format where the marker stood. The standard format's header needs no marker.
#include <errno.h>
#include <string.h>

#include <string_view>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/framed.hpp"
#include "base/ztc/os/printf/writers.hpp"

namespace {
// Two markers of one length: where both renderings hold their own marker, the message
// stood there, whatever the header's values contain.
constexpr std::string_view kMarker = "\x1b\x01ztc-message\x02\x1b";
constexpr std::string_view kOtherMarker = "\x1b\x03ztc-message\x04\x1b";
static_assert(kMarker.size() == kOtherMarker.size());

constexpr size_t kHeaderSize = DEBUG_BUFFER_SIZE + kMarker.size();
constexpr size_t kLineFormatSize = 2 * DEBUG_BUFFER_SIZE;

const char *or_empty(const char *s) {
    return s != nullptr ? s : "";
}

struct HeaderValues {
    int thread_num;
    const char *thread_name;
    const char *time_text;
    const char *module_name;
    int level;
    const char *file;
    int line;
    const char *function;
};

// The output's format field need not hold a NUL; only its 128 bytes are read.
struct OutputFormat {
    explicit OutputFormat(const debug_output_t *output) {
        memcpy(text, output->u.text.format, sizeof output->u.text.format);
        text[sizeof output->u.text.format] = '\0';
    }
    char text[sizeof(debug_output_t::u.text.format) + 1];
};

// The standard-error header up to the message, laid out by the engine's own
// writers as the engine lays out that format, without reading it: its nine
// conversions are most of the cost of a line. The usual values (a thread
// number from -1 to 99, a level from 0 to 9, a line below 10000) are laid out
// here; the rest by the engine's integer writer.
void put_standard_prefix(ztc::printf_engine::Sink &out, const HeaderValues &v) {
    using namespace ztc::printf_engine;
    // On a copy of the sink: the sink itself then stays in registers.
    auto integer = [&out](int value, uint8_t flags, uint32_t width) {
        Piece piece;
        piece.letter = 'd';
        piece.flags = flags;
        piece.width = width;
        piece.own = true;
        Sink copy = out;
        write_integer(copy, piece, value, ZT_PRINTF_LEN_NONE);
        out.count = copy.count;
    };
    auto literal = [&out](std::string_view text) { out.put(text.data(), text.size()); };
    if (v.thread_num >= 0 && v.thread_num < 100) { // "%02d"
        char pair[2];
        put_pair(pair, static_cast<uint32_t>(v.thread_num));
        out.put(pair, 2);
    } else if (v.thread_num == -1) {
        literal("-1");
    } else {
        integer(v.thread_num, FLAG_ZERO, 2);
    }
    literal(":");
    put_right(out, v.time_text, 16);
    literal(" ");
    put_right(out, v.module_name, 11);
    if (v.level >= 0 && v.level < 10) { // "%1d"
        const char digit = static_cast<char>('0' + v.level);
        out.put(&digit, 1);
    } else {
        integer(v.level, 0, 1);
    }
    literal("    "); // the file's "%.0s" prints nothing
    put_right(out, v.function, 32);
    literal(": ");
    if (v.line >= 0 && v.line < 10000) { // "%4d"
        char digits[4] = {' ', ' ', ' ', ' '};
        small_decimal_digits(digits + 4, static_cast<uint32_t>(v.line));
        out.put(digits, 4);
    } else {
        integer(v.line, 0, 4);
    }
    literal(":  ");
    if (v.thread_name[0] != '\0') literal(v.thread_name);
}

constexpr std::string_view kStandardSuffix = "\n";

bool is_standard_format(const debug_output_t *output) {
    static_assert(sizeof ztc::debug::kStderrFormat <= sizeof output->u.text.format);
    return memcmp(output->u.text.format, ztc::debug::kStderrFormat,
                  sizeof ztc::debug::kStderrFormat) == 0;
}

int render_header(char (&buf)[kHeaderSize], const char *format, const HeaderValues &v,
                  std::string_view marker) {
    return zt_snprintf(buf, sizeof buf, format, v.thread_num, v.time_text, v.module_name, v.level,
                       v.file, v.function, v.line, v.thread_name, marker.data());
}

// Builds the second pass's format into out; false when the line would not fit.
class LineFormat {
  public:
    LineFormat(std::string_view header, const char *other, std::string_view message)
        : header_(header), other_(other), message_(message) {}

    bool build(char (&out)[kLineFormatSize]) {
        size_t markers = count_markers();
        size_t plain = header_.size() - markers * kMarker.size();
        if (plain + (markers ? message_.size() : 0) >= DEBUG_BUFFER_SIZE) return false;
        size_t o = 0;
        bool message_placed = false;
        for (size_t i = 0; i < header_.size();) {
            if (header_[i] == kMarker[0] && is_marker(i)) {
                // A format naming the message twice gets it once: its arguments exist once.
                if (!message_placed) {
                    memcpy(out + o, message_.data(), message_.size());
                    o += message_.size();
                    message_placed = true;
                }
                i += kMarker.size();
                continue;
            }
            if (header_[i] == '%') out[o++] = '%';
            out[o++] = header_[i++];
        }
        out[o] = '\0';
        return true;
    }

  private:
    bool is_marker(size_t i) const {
        if (header_.compare(i, kMarker.size(), kMarker) != 0) return false;
        return other_ == nullptr ||
               std::string_view(other_ + i, kOtherMarker.size()) == kOtherMarker;
    }
    // Must visit the positions build() visits: past a real marker, but only one byte past a
    // look-alike, which may overlap the real one that follows it.
    size_t count_markers() const {
        size_t n = 0;
        for (size_t i = header_.find(kMarker); i != std::string_view::npos;) {
            bool real = is_marker(i);
            n += real;
            i = header_.find(kMarker, i + (real ? kMarker.size() : 1));
        }
        return n;
    }

    std::string_view header_;
    const char *other_; // the rendering with the other marker, when one was needed
    std::string_view message_;
};

// Hands the formatted line (the engine's result len) to the output, cut to the buffer.
void deliver_line(debug_output_t *output, const char (&text)[DEBUG_BUFFER_SIZE], int len) {
    if (len <= 0) return;
    const size_t n =
        static_cast<size_t>(len) < sizeof text ? static_cast<size_t>(len) : sizeof text - 1;
    ztc::debug::deliver(output, &output->u.text.lock, output->u.text.write, output->u.text.user,
                        text, n);
}

size_t count_occurrences(std::string_view text, std::string_view what) {
    size_t n = 0;
    for (size_t i = text.find(what); i != std::string_view::npos; i = text.find(what, i + 1)) ++n;
    return n;
}
} // namespace

extern "C" void debug_print_text(debug_output_t *output, int thread_num, const char *thread_name,
                                 const char *time_text, int module, int level, const char *file,
                                 int line, const char *function, const char *fmt, va_list ap) {
    if (output == nullptr) return;
    int saved_errno = errno;
    const char *module_name =
        ztc::debug::module_in_range(module) ? or_empty(debug_type_strings[module]) : "";
    HeaderValues values{
        thread_num, or_empty(thread_name), or_empty(time_text), module_name, level, or_empty(file),
        line,       or_empty(function)};
    const char *message_format = or_empty(fmt);
    char text[DEBUG_BUFFER_SIZE];

    // The standard line: its header goes straight into the line and the
    // message is printed after it, where the marker would stand.
    if (is_standard_format(output)) {
        ztc::printf_engine::Sink prefix{text, sizeof text};
        put_standard_prefix(prefix, values);
        if (prefix.count + kStandardSuffix.size() + strlen(message_format) >= DEBUG_BUFFER_SIZE)
            return;
        errno = saved_errno;
        const int len = ztc::printf_engine::vsprintf_framed(text, sizeof text,
                                                            std::string_view(text, prefix.count),
                                                            message_format, kStandardSuffix, ap);
        if (len != -1) {
            deliver_line(output, text, len);
            return;
        }
    }

    OutputFormat format(output);
    char header[kHeaderSize];
    int header_len = render_header(header, format.text, values, kMarker);
    if (header_len < 0 || static_cast<size_t>(header_len) >= sizeof header) return;
    std::string_view rendered(header, static_cast<size_t>(header_len));

    // The usual line: the message stands once in the header. The line format
    // would be the header, its "%" doubled, with the message format in the
    // marker's place; the engine prints that without it being built.
    const size_t marker = rendered.find(kMarker);
    if (marker != std::string_view::npos &&
        rendered.find(kMarker, marker + 1) == std::string_view::npos) {
        if (rendered.size() - kMarker.size() + strlen(message_format) >= DEBUG_BUFFER_SIZE) return;
        errno = saved_errno;
        int len = ztc::printf_engine::vsprintf_framed(text, sizeof text, rendered.substr(0, marker),
                                                      message_format,
                                                      rendered.substr(marker + kMarker.size()), ap);
        if (len != -1) {
            deliver_line(output, text, len);
            return;
        }
    }

    // A value holding the marker's bytes is told apart by a second rendering.
    char other[kHeaderSize];
    const char *other_rendering = nullptr;
    if (count_occurrences(rendered, kMarker) > 1) {
        if (render_header(other, format.text, values, kOtherMarker) != header_len) return;
        other_rendering = other;
    }

    char line_format[kLineFormatSize];
    if (!LineFormat(rendered, other_rendering, message_format).build(line_format)) return;

    errno = saved_errno;
    deliver_line(output, text, zt_vsprintf(text, sizeof text, line_format, ap));
}
