// Text writer: one line per print, the output's header format around the caller's message.
//
// The line is two passes: the header is formatted with the caller's message format as its
// ninth value (so the output's conversion for it cuts or pads that format text), and the
// result is the format of the caller's values; %n counts from the line's start and a
// rejected message replaces the whole line. Two departures keep a line safe: a "%" that a
// header value (thread name, time text, module, file or function) brings in prints as
// itself, and a message the header shows twice is expanded once, as its arguments exist
// once. Which header bytes came from where is found by rendering the header again with
// changed values of equal length and comparing the renderings byte by byte.
#include <errno.h>
#include <string.h>

#include <bitset>
#include <string_view>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/framed.hpp"
#include "base/ztc/os/printf/writers.hpp"

namespace {
// The header's bytes that can reach a line: one that is longer drops the line.
constexpr size_t kHeaderSize = DEBUG_BUFFER_SIZE;
using HeaderBits = std::bitset<kHeaderSize>;

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

// The header's full length; the text is kept only when it is shorter than the buffer.
int render_header(char (&buf)[kHeaderSize], const char *format, const HeaderValues &v,
                  const char *message) {
    return zt_snprintf(buf, sizeof buf, format, v.thread_num, v.time_text, v.module_name, v.level,
                       v.file, v.function, v.line, v.thread_name, message);
}

// Where the bytes of a kept header came from.
struct HeaderLayout {
    std::string_view text;
    HeaderBits message;              // a rendering of the message format text
    HeaderBits literal_percent;      // a "%" that a header value brought in
    int renderings = 0;              // of the message format text
    size_t first = 0, first_end = 0; // the first rendering

    bool only_literal_percents_outside_first() const {
        for (size_t i = text.find('%'); i != std::string_view::npos; i = text.find('%', i + 1)) {
            if ((i < first || i >= first_end) && !literal_percent[i]) return false;
        }
        return true;
    }
};

// Renders the header with a text of the message's length that differs from it in every
// byte; the bytes that change are the message's. Each rendering is a prefix of the text, so
// its first byte (\x01 or \x02, the rest being \x03 or \x04) marks where it starts. A kept
// header shows no byte of the message beyond its buffer, so a longer message is stood for
// by that much of it.
[[gnu::noinline]] void find_message(HeaderLayout &layout, const char *format,
                                    const HeaderValues &values, const char *message) {
    char changed[kHeaderSize];
    const size_t n = strnlen(message, sizeof changed - 1);
    for (size_t i = 0; i < n; ++i) {
        const char other = i == 0 ? '\x01' : '\x03';
        changed[i] = message[i] == other ? static_cast<char>(other + 1) : other;
    }
    changed[n] = '\0';
    char rendered[kHeaderSize];
    // A message shown other than as text (a number, a pointer) is not looked for.
    if (render_header(rendered, format, values, changed) != static_cast<int>(layout.text.size()))
        return;
    bool in_first = false;
    for (size_t i = 0; i < layout.text.size(); ++i) {
        if (layout.text[i] == rendered[i]) {
            in_first = false;
            continue;
        }
        layout.message[i] = true;
        if (rendered[i] == '\x01' || rendered[i] == '\x02') {
            in_first = ++layout.renderings == 1;
            if (in_first) layout.first = i;
        }
        if (in_first) layout.first_end = i + 1;
    }
}

bool has_percent(const char *text) {
    return strchr(text, '%') != nullptr;
}

// Renders the header again with every "%" of the header values replaced: a "%" that
// turns into something else came from a value. Rare, so its copies do not burden the
// usual line's stack.
[[gnu::noinline]] void find_value_percents(HeaderLayout &layout, const char *format,
                                           const HeaderValues &values, const char *message) {
    char copies[5][kHeaderSize];
    size_t used = 0;
    auto without_percent = [&](const char *text) -> const char * {
        if (!has_percent(text)) return text;
        char *copy = copies[used++];
        // As with the message, a kept header shows no more of a value than this.
        const size_t n = strnlen(text, kHeaderSize - 1);
        for (size_t i = 0; i < n; ++i) copy[i] = text[i] == '%' ? '_' : text[i];
        copy[n] = '\0';
        return copy;
    };
    HeaderValues changed = values;
    changed.thread_name = without_percent(values.thread_name);
    changed.time_text = without_percent(values.time_text);
    changed.module_name = without_percent(values.module_name);
    changed.file = without_percent(values.file);
    changed.function = without_percent(values.function);
    char rendered[kHeaderSize];
    const bool aligned =
        render_header(rendered, format, changed, message) == static_cast<int>(layout.text.size());
    for (size_t i = 0; i < layout.text.size(); ++i) {
        // Unaligned renderings cannot tell: every "%" but the message's prints as itself.
        if (layout.text[i] == '%')
            layout.literal_percent[i] = aligned ? rendered[i] != '%' : !layout.message[i];
    }
}

// Hands the formatted line (the engine's result len) to the output, cut to the buffer.
void deliver_line(debug_output_t *output, const char (&text)[DEBUG_BUFFER_SIZE], int len) {
    if (len <= 0) return;
    const size_t n =
        static_cast<size_t>(len) < sizeof text ? static_cast<size_t>(len) : sizeof text - 1;
    ztc::debug::deliver(output, &output->u.text.lock, output->u.text.write, output->u.text.user,
                        text, n);
}

// The second pass over a built format: the header with its values' "%" doubled and the
// message's later renderings left out.
[[gnu::noinline]] int print_built_line(char (&text)[DEBUG_BUFFER_SIZE], const HeaderLayout &layout,
                                       int saved_errno, va_list ap) {
    char line_format[2 * kHeaderSize];
    size_t o = 0;
    for (size_t i = 0; i < layout.text.size(); ++i) {
        if (layout.message[i] && (i < layout.first || i >= layout.first_end)) continue;
        if (layout.literal_percent[i]) line_format[o++] = '%';
        line_format[o++] = layout.text[i];
    }
    line_format[o] = '\0';
    errno = saved_errno;
    return zt_vsprintf(text, sizeof text, line_format, ap);
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
    // message is printed after it.
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
    const int header_len = render_header(header, format.text, values, message_format);
    if (header_len < 0 || static_cast<size_t>(header_len) >= sizeof header) return;
    HeaderLayout layout;
    layout.text = std::string_view(header, static_cast<size_t>(header_len));
    find_message(layout, format.text, values, message_format);
    if (has_percent(values.thread_name) || has_percent(values.time_text) ||
        has_percent(values.module_name) || has_percent(values.file) ||
        has_percent(values.function)) {
        find_value_percents(layout, format.text, values, message_format);
    }

    // The usual line: the header's text around the message is literal, so the engine prints
    // it around the message format without the line's format being built.
    if (layout.renderings <= 1 && layout.only_literal_percents_outside_first()) {
        const std::string_view shown =
            layout.text.substr(layout.first, layout.first_end - layout.first);
        char cut[kHeaderSize];
        const char *message = message_format;
        if (shown.size() != strlen(message_format)) {
            memcpy(cut, shown.data(), shown.size());
            cut[shown.size()] = '\0';
            message = cut;
        }
        errno = saved_errno;
        const int len = ztc::printf_engine::vsprintf_framed(
            text, sizeof text, layout.text.substr(0, layout.first), message,
            layout.text.substr(layout.first_end), ap);
        if (len != -1) {
            deliver_line(output, text, len);
            return;
        }
    }
    deliver_line(output, text, print_built_line(text, layout, saved_errno, ap));
}
