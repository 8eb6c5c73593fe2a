// ztc-logdump: prints binary debug records as standard-error lines or JSON lines,
// as they arrive, in constant memory.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/ztc/debug/debug.h"
#include "base/ztc/debug/outputs.h"
#include "base/ztc/os/path.h"
#include "tools/cli.h"
#include "tools/logdump_record.h"

namespace {

constexpr const char *program = "ztc-logdump";

constexpr const char *usage =
    "Usage: ztc-logdump [OPTION]... [FILE]...\n"
    "Prints binary debug records, from each FILE or standard input ('-' or no FILE),\n"
    "as they arrive: one line per record in the standard-error layout, or JSON lines.\n"
    "  -j, --json          one JSON object per record\n"
    "      --raw           copy the texts' control characters as they are (text mode)\n"
    "      --resync        after a damaged record, skip to the next record magic and go on\n"
    "  -f, --follow        at the end of a regular file wait for more, and read a new\n"
    "                      file at its name from its start when it is rotated away\n"
    "  -l, --level=N       only records of level N and more severe (at most N); N may\n"
    "                      also be off, error, warn, info, debug or trace\n"
    "  -m, --module=NAME   only records of this module, by name or number (repeatable)\n"
    "  -t, --thread=N      only records of this thread number (repeatable)\n"
    "      --since=T       only records stamped at T or later\n"
    "      --until=T       only records stamped at T or earlier\n"
    "                      T: seconds of the records' clock (12.5), or a UTC time for\n"
    "                      records stamped in calendar time (2024-05-01T12:00:00Z)\n"
    "  -h, --help          this text\n"
    "      --version       the program's version\n"
    "Exit status: 0 all records read, 1 damaged input or output not written,\n"
    "2 usage or read error.\n";

struct stamp {
    int64_t seconds;
    uint32_t microseconds;
    auto operator<=>(const stamp &) const = default;
};

struct filters {
    std::optional<int32_t> level;
    std::vector<int32_t> modules;
    std::vector<int32_t> threads;
    std::optional<stamp> since, until;

    bool pass(const logdump::record &r) const {
        auto listed = [](const std::vector<int32_t> &list, int32_t v) {
            if (list.empty()) return true;
            for (const int32_t x : list)
                if (x == v) return true;
            return false;
        };
        const stamp t{r.seconds, r.microseconds};
        return (!level || r.level <= *level) && listed(modules, r.module) &&
               listed(threads, r.thread) && (!since || t >= *since) && (!until || t <= *until);
    }
};

struct options {
    bool json = false;
    bool raw = false;
    bool resync = false;
    bool follow = false;
    bool with_source = false;
    filters only;
};

std::string module_name(int32_t module) {
    if (module >= 0 && module < DEBUG_MODULE_COUNT && debug_type_strings[module] != nullptr)
        return debug_type_strings[module];
    return std::to_string(module);
}

// The level names of the logging settings; other levels are shown as numbers.
std::string level_text(int32_t level) {
    if (const char *name = debug_level_name(level)) return name;
    return std::to_string(level);
}

void append_hex(std::string &out, unsigned char byte) {
    static constexpr char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

// One code point of s at p, or nothing when the bytes there are not UTF-8.
std::optional<wchar_t> next_char(const char *&p, const char *end) {
    wchar_t c;
    wchar_t *d = &c;
    const char *start = p;
    zt_utf8_to_utf32(&p, end, &d, &c + 1, ZT_UTF_STRICT);
    if (d != &c) return c;
    p = start + 1;
    return std::nullopt;
}

// Text for a terminal: control characters (C0, DEL, C1) and bytes that are not UTF-8
// become visible escapes, so that a record can neither break its line nor steer
// the terminal.
std::string visible(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const char *p = s.data();
    const char *end = p + s.size();
    while (p < end) {
        const char *start = p;
        while (p < end && *p >= 0x20 && *p < 0x7f) ++p; // printable ASCII as it is
        out.append(start, p);
        if (p == end) break;
        start = p;
        const std::optional<wchar_t> c = next_char(p, end);
        if (!c) {
            append_hex(out, static_cast<unsigned char>(*start));
        } else if (*c == '\n') {
            out += "\\n";
        } else if (*c == '\t') {
            out += "\\t";
        } else if (*c == '\r') {
            out += "\\r";
        } else if (*c < 0x20 || (*c >= 0x7f && *c < 0xa0)) {
            for (const char *b = start; b < p; ++b) append_hex(out, static_cast<unsigned char>(*b));
        } else {
            out.append(start, p);
        }
    }
    return out;
}

void text_line(std::string &out, const logdump::record &r, bool raw) {
    auto shown = [raw](std::string_view s) { return raw ? std::string(s) : visible(s); };
    char time_text[64];
    std::snprintf(time_text, sizeof time_text, "%09lu.%06lu", static_cast<unsigned long>(r.seconds),
                  static_cast<unsigned long>(r.microseconds));
    const std::string function = shown(r.function);
    const std::string module = shown(module_name(r.module));
    // The header of the standard-error layout; its texts may hold NULs, so the
    // widths are applied here rather than by %s.
    char head[96];
    std::snprintf(head, sizeof head, "%02d:%16s ", r.thread, time_text);
    out += head;
    out.append(module.size() < 11 ? 11 - module.size() : 0, ' ');
    out += module;
    out += std::to_string(r.level);
    out += "    ";
    out.append(function.size() < 32 ? 32 - function.size() : 0, ' ');
    out += function;
    std::snprintf(head, sizeof head, ": %4d:  ", r.line);
    out += head;
    out += shown(r.text);
    out += '\n';
}

// JSON strings must be valid UTF-8: bytes that do not decode become U+FFFD.
void json_string(std::string &out, std::string_view s) {
    out += '"';
    const char *p = s.data();
    const char *end = p + s.size();
    while (p < end) {
        const char *start = p;
        while (p < end && *p >= 0x20 && *p < 0x7f && *p != '"' && *p != '\\') ++p;
        out.append(start, p);
        if (p == end) break;
        start = p;
        const std::optional<wchar_t> c = next_char(p, end);
        if (!c) {
            out += "\\ufffd";
        } else if (*c == '"' || *c == '\\') {
            out += '\\';
            out += static_cast<char>(*c);
        } else if (*c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(*c));
            out += esc;
        } else {
            out.append(start, p);
        }
    }
    out += '"';
}

void json_line(std::string &out, const logdump::record &r, uint64_t offset, const char *source) {
    char head[160];
    std::snprintf(head, sizeof head,
                  "{\"offset\":%llu,\"thread\":%d,\"seconds\":%lld,\"microseconds\":%u,"
                  "\"module\":%d,\"module_name\":",
                  static_cast<unsigned long long>(offset), r.thread,
                  static_cast<long long>(r.seconds), r.microseconds, r.module);
    out += head;
    json_string(out, module_name(r.module));
    out += ",\"level\":" + std::to_string(r.level) + ",\"level_name\":";
    json_string(out, level_text(r.level));
    out += ",\"file\":";
    json_string(out, r.file);
    out += ",\"function\":";
    json_string(out, r.function);
    out += ",\"line\":" + std::to_string(r.line) + ",\"text\":";
    json_string(out, r.text);
    if (source != nullptr) {
        out += ",\"source\":";
        json_string(out, source);
    }
    out += "}\n";
}

// Ends the tool when standard output cannot take more: status 1 (or SIGPIPE).
void emit(const std::string &lines) {
    if (lines.empty()) return;
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    if (!cli::flush_stdout(program)) std::exit(1);
}

// One input, read in chunks; buf holds the bytes not yet consumed, from offset base.
struct input {
    std::string name;
    int fd = -1;
    bool regular = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::vector<uint8_t> buf;
    uint64_t base = 0;
    bool skipping = false; // after damage with --resync: looking for the next magic
    bool stopped = false;  // after damage without --resync
    bool damaged = false;
};

bool open_input(input &in) {
    if (in.name == "-") {
        in.fd = STDIN_FILENO;
    } else {
        in.fd = open(in.name.c_str(), O_RDONLY | O_CLOEXEC);
        if (in.fd < 0) return false;
    }
    struct stat st;
    if (fstat(in.fd, &st) == 0) {
        in.regular = S_ISREG(st.st_mode);
        in.dev = st.st_dev;
        in.ino = st.st_ino;
    }
    return true;
}

void close_input(input &in) {
    if (in.fd > STDIN_FILENO) close(in.fd);
    in.fd = -1;
}

// Prints every complete record in the buffer and drops what it consumed. With
// final, the input has ended: a record it cuts short is damage.
void consume(input &in, const options &opt, bool final) {
    std::string out;
    const std::span<const uint8_t> bytes(in.buf);
    size_t pos = 0;
    while (!in.stopped) {
        if (in.skipping) {
            const size_t magic = logdump::find_magic(bytes, pos);
            if (magic == bytes.size()) {
                // Keep a tail that may be the start of a magic still to arrive.
                const size_t keep = final ? 0 : sizeof logdump::record_magic - 1;
                pos = std::max(pos, bytes.size() - std::min(bytes.size(), keep));
                break;
            }
            pos = magic;
            in.skipping = false;
        }
        const auto r = logdump::read_record(bytes.subspan(pos), logdump::max_record_size);
        if (r.what == logdump::status::end) break;
        if (r.what == logdump::status::ok) {
            if (opt.only.pass(r.rec)) {
                if (opt.json)
                    json_line(out, r.rec, in.base + pos,
                              opt.with_source ? in.name.c_str() : nullptr);
                else
                    text_line(out, r.rec, opt.raw);
            }
            pos += r.size;
            continue;
        }
        if (r.more && !final) break;
        in.damaged = true;
        emit(out);
        out.clear();
        std::fprintf(stderr, "%s: %s: %s at byte offset %llu (record at %llu)\n", program,
                     in.name.c_str(), logdump::describe(r.what),
                     static_cast<unsigned long long>(in.base + pos + r.problem),
                     static_cast<unsigned long long>(in.base + pos));
        if (!opt.resync) {
            in.stopped = true;
            pos = bytes.size();
            break;
        }
        in.skipping = true;
        ++pos;
    }
    emit(out);
    in.buf.erase(in.buf.begin(), in.buf.begin() + static_cast<std::ptrdiff_t>(pos));
    in.base += pos;
}

enum class pumped { data, eof, error };

// Reads what the input has now (blocking on a pipe until something arrives).
pumped pump(input &in, const options &opt) {
    constexpr size_t chunk = 65536;
    const size_t old = in.buf.size();
    in.buf.resize(old + chunk);
    ssize_t n;
    do {
        n = read(in.fd, in.buf.data() + old, chunk);
    } while (n < 0 && errno == EINTR);
    in.buf.resize(old + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n < 0) {
        std::fprintf(stderr, "%s: %s: %s\n", program, in.name.c_str(), std::strerror(errno));
        return pumped::error;
    }
    if (n == 0) return pumped::eof;
    consume(in, opt, false);
    return pumped::data;
}

// Starts the input over from byte 0 of what is now open.
void restart(input &in) {
    in.buf.clear();
    in.base = 0;
    in.skipping = false;
}

// A vanished reader of an idle follower is noticed here rather than at the next
// record, which may never come.
void check_reader() {
    pollfd p{STDOUT_FILENO, 0, 0};
    if (poll(&p, 1, 0) != 1 || (p.revents & POLLERR) == 0) return;
    raise(SIGPIPE);
    std::fprintf(stderr, "%s: cannot write standard output: %s\n", program, std::strerror(EPIPE));
    std::exit(1);
}

// Like tail -F: reads what the files gain; a file replaced at its name is finished
// and the new one read from its start; a file cut short is read again from its start.
void follow(std::vector<input> &inputs, const options &opt, int *status) {
    for (;;) {
        bool any = false, got = false;
        for (input &in : inputs) {
            if (in.stopped || (in.fd < 0 && !in.regular)) continue;
            any = true;
            if (in.fd < 0) {
                // Its name vanished at a rotation; the new file may be there now.
                if (!open_input(in)) continue;
                restart(in);
            }
            pumped p;
            while ((p = pump(in, opt)) == pumped::data) got = true;
            if (p == pumped::error) *status = 2;
            if (p == pumped::error || in.stopped) {
                in.stopped = true;
                close_input(in);
                continue;
            }
            struct stat now, open_st;
            if (fstat(in.fd, &open_st) == 0 &&
                static_cast<uint64_t>(open_st.st_size) < in.base + in.buf.size()) {
                lseek(in.fd, 0, SEEK_SET);
                restart(in);
                got = true;
                continue;
            }
            if (stat(in.name.c_str(), &now) != 0 || (now.st_dev == in.dev && now.st_ino == in.ino))
                continue;
            // Replaced: what the old file still held was read above, so it is complete.
            consume(in, opt, true);
            close_input(in);
            in.stopped = false; // damage at the old file's end does not stop the new one
            if (open_input(in)) restart(in);
            got = true;
        }
        if (!any) {
            for (const input &in : inputs)
                if (in.damaged && *status == 0) *status = 1;
            return;
        }
        if (!got) {
            check_reader();
            usleep(100 * 1000);
        }
    }
}

bool parse_int(std::string_view text, int32_t *out) {
    const char *end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, *out);
    return !text.empty() && ec == std::errc() && p == end;
}

// Digits of text[pos, pos + n) as a number; false when they are not all digits.
bool digits(std::string_view text, size_t pos, size_t n, int *out) {
    if (pos + n > text.size()) return false;
    *out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        *out = *out * 10 + (text[i] - '0');
    }
    return true;
}

// Up to nine digits of a fraction of a second, as microseconds.
bool fraction(std::string_view text, size_t *pos, uint32_t *usec) {
    *usec = 0;
    if (*pos >= text.size() || text[*pos] != '.') return true;
    size_t n = 0;
    uint32_t scale = 100000;
    for (++*pos; *pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9'; ++*pos, ++n) {
        *usec += static_cast<uint32_t>(text[*pos] - '0') * scale;
        scale /= 10;
    }
    return n >= 1 && n <= 9;
}

// "12", "12.5": seconds of the records' clock. "2024-05-01", "2024-05-01T12:00",
// "2024-05-01 12:00:00.5Z" and the like: a UTC calendar time.
std::optional<stamp> parse_time(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    if (pos > 0 && (pos == text.size() || text[pos] == '.')) {
        int64_t seconds;
        if (std::from_chars(text.data(), text.data() + pos, seconds).ec != std::errc())
            return std::nullopt;
        uint32_t usec;
        if (!fraction(text, &pos, &usec) || pos != text.size()) return std::nullopt;
        return stamp{seconds, usec};
    }
    struct tm tm {};
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' ||
        !digits(text, 5, 2, &month) || text[7] != '-' || !digits(text, 8, 2, &day))
        return std::nullopt;
    pos = 10;
    uint32_t usec = 0;
    if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
        if (!digits(text, pos + 1, 2, &hour) || pos + 3 >= text.size() || text[pos + 3] != ':' ||
            !digits(text, pos + 4, 2, &minute))
            return std::nullopt;
        pos += 6;
        if (pos < text.size() && text[pos] == ':') {
            if (!digits(text, pos + 1, 2, &second)) return std::nullopt;
            pos += 3;
            if (!fraction(text, &pos, &usec)) return std::nullopt;
        }
    }
    if (pos < text.size() && text[pos] == 'Z') ++pos;
    if (pos != text.size()) return std::nullopt;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const time_t t = timegm(&tm);
    // timegm mends out-of-range fields (February 30th); such a time is not accepted.
    if (tm.tm_year != year - 1900 || tm.tm_mon != month - 1 || tm.tm_mday != day ||
        tm.tm_hour != hour || tm.tm_min != minute || tm.tm_sec != second)
        return std::nullopt;
    return stamp{static_cast<int64_t>(t), usec};
}

std::optional<int32_t> parse_level(std::string_view text) {
    int32_t level;
    if (parse_int(text, &level)) return level;
    for (int32_t level = 0; level <= 9; ++level)
        if (const char *name = debug_level_name(level); name != nullptr && text == name)
            return level;
    return std::nullopt;
}

std::optional<int32_t> parse_module(const char *text) {
    int32_t module;
    if (parse_int(text, &module)) return module;
    for (int32_t m = 0; m < DEBUG_MODULE_COUNT; ++m)
        if (debug_type_strings[m] != nullptr && strcasecmp(text, debug_type_strings[m]) == 0)
            return m;
    return std::nullopt;
}

enum long_only { opt_raw = 256, opt_resync, opt_since, opt_until, opt_version };

constexpr option long_options[] = {
    {"json", no_argument, nullptr, 'j'},
    {"raw", no_argument, nullptr, opt_raw},
    {"resync", no_argument, nullptr, opt_resync},
    {"follow", no_argument, nullptr, 'f'},
    {"level", required_argument, nullptr, 'l'},
    {"module", required_argument, nullptr, 'm'},
    {"thread", required_argument, nullptr, 't'},
    {"since", required_argument, nullptr, opt_since},
    {"until", required_argument, nullptr, opt_until},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, opt_version},
    {nullptr, 0, nullptr, 0},
};

} // namespace

int main(int argc, char **argv) {
    cli::reserve_standard_fds();
    options opt;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":fhjl:m:t:", long_options, nullptr)) != -1;) {
        switch (c) {
        case 'j':
            opt.json = true;
            break;
        case opt_raw:
            opt.raw = true;
            break;
        case opt_resync:
            opt.resync = true;
            break;
        case 'f':
            opt.follow = true;
            break;
        case 'l':
            opt.only.level = parse_level(optarg);
            if (!opt.only.level) return cli::usage_error(program, "bad level '%s'", optarg);
            break;
        case 'm':
            if (const auto m = parse_module(optarg))
                opt.only.modules.push_back(*m);
            else
                return cli::usage_error(program, "unknown module '%s'", optarg);
            break;
        case 't': {
            int32_t thread;
            if (!parse_int(optarg, &thread))
                return cli::usage_error(program, "bad thread number '%s'", optarg);
            opt.only.threads.push_back(thread);
            break;
        }
        case opt_since:
        case opt_until: {
            const auto t = parse_time(optarg);
            if (!t)
                return cli::usage_error(program, "bad time '%s' (seconds, or YYYY-MM-DDTHH:MM:SSZ)",
                                        optarg);
            (c == opt_since ? opt.only.since : opt.only.until) = t;
            break;
        }
        case 'h':
            std::fputs(usage, stdout);
            return cli::finish(program, 0);
        case opt_version:
            cli::print_version(program);
            return cli::finish(program, 0);
        default:
            return cli::option_error(program, c, long_options, argv);
        }
    }
    std::vector<input> inputs;
    for (int i = optind; i < argc; ++i) inputs.emplace_back().name = argv[i];
    if (inputs.empty()) inputs.emplace_back().name = "-";
    opt.with_source = inputs.size() > 1;

    int status = 0;
    for (input &in : inputs) {
        if (!open_input(in)) {
            std::fprintf(stderr, "%s: %s: %s\n", program, in.name.c_str(), std::strerror(errno));
            status = 2;
            in.stopped = true;
            continue;
        }
        // Damage without --resync stops the input: the rest is neither read nor held.
        pumped p = pumped::data;
        while (!in.stopped && (p = pump(in, opt)) == pumped::data) {
        }
        if (p == pumped::error) {
            status = 2;
            in.stopped = true;
        }
        if (p == pumped::eof && opt.follow && in.regular && !in.stopped) continue;
        if (p == pumped::eof) consume(in, opt, true);
        close_input(in);
        if (in.damaged && status == 0) status = 1;
    }
    if (opt.follow) follow(inputs, opt, &status);
    return cli::finish(program, status);
}
