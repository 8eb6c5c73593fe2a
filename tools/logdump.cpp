// ztc-logdump: prints binary debug records as standard-error lines or JSON lines.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/ztc/debug/debug.h"
#include "base/ztc/os/path.h"
#include "tools/logdump_record.h"

namespace {

constexpr const char *usage =
    "Usage: ztc-logdump [--json] [--resync] [FILE...]\n"
    "Prints binary debug records, from each FILE or standard input ('-' or no FILE),\n"
    "one line per record in the standard-error layout, or as JSON lines with --json.\n"
    "  --json     one JSON object per record\n"
    "  --resync   after a damaged record, skip to the next record magic and go on\n"
    "  --help     this text\n"
    "Exit status: 0 all records read, 1 damaged input, 2 usage or read error.\n";

struct options {
    bool json = false;
    bool resync = false;
};

std::string module_name(int32_t module) {
    if (module >= 0 && module < DEBUG_MODULE_COUNT && debug_type_strings[module] != nullptr)
        return debug_type_strings[module];
    return std::to_string(module);
}

void print_text(const logdump::record &r) {
    char time_text[64];
    std::snprintf(time_text, sizeof time_text, "%09lu.%06lu", static_cast<unsigned long>(r.seconds),
                  static_cast<unsigned long>(r.microseconds));
    const std::string function(r.function);
    std::printf("%02d:%16s %11s%1d    %32s: %4d:  ", r.thread, time_text,
                module_name(r.module).c_str(), r.level, function.c_str(), r.line);
    std::fwrite(r.text.data(), 1, r.text.size(), stdout);
    std::fputc('\n', stdout);
}

// JSON strings must be valid UTF-8: bytes that do not decode become U+FFFD.
void print_json_string(std::string_view s) {
    std::fputc('"', stdout);
    const char *p = s.data();
    const char *end = p + s.size();
    while (p < end) {
        wchar_t c;
        wchar_t *d = &c;
        const char *start = p;
        zt_utf8_to_utf32(&p, end, &d, &c + 1, ZT_UTF_STRICT);
        if (d == &c) {
            std::fputs("\\ufffd", stdout);
            p = start + 1;
            continue;
        }
        if (c == '"' || c == '\\') {
            std::fputc('\\', stdout);
            std::fputc(static_cast<int>(c), stdout);
        } else if (c < 0x20) {
            std::printf("\\u%04x", static_cast<unsigned>(c));
        } else {
            std::fwrite(start, 1, static_cast<size_t>(p - start), stdout);
        }
    }
    std::fputc('"', stdout);
}

void print_json(const logdump::record &r, size_t offset) {
    std::printf("{\"offset\":%zu,\"thread\":%d,\"seconds\":%lld,\"microseconds\":%u,\"module\":%d,"
                "\"module_name\":",
                offset, r.thread, static_cast<long long>(r.seconds), r.microseconds, r.module);
    print_json_string(module_name(r.module));
    std::printf(",\"level\":%d,\"file\":", r.level);
    print_json_string(r.file);
    std::fputs(",\"function\":", stdout);
    print_json_string(r.function);
    std::printf(",\"line\":%d,\"text\":", r.line);
    print_json_string(r.text);
    std::fputs("}\n", stdout);
}

bool read_all(const char *name, std::vector<uint8_t> &out) {
    FILE *f = std::strcmp(name, "-") == 0 ? stdin : std::fopen(name, "rb");
    if (f == nullptr) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    if (f != stdin) std::fclose(f);
    return ok;
}

// Returns false when the input held damage.
bool dump(const char *name, std::span<const uint8_t> bytes, const options &opt) {
    bool clean = true;
    size_t pos = 0;
    for (;;) {
        const logdump::read_result r = logdump::read_record(bytes.subspan(pos));
        if (r.what == logdump::status::end) return clean;
        if (r.what == logdump::status::ok) {
            opt.json ? print_json(r.rec, pos) : print_text(r.rec);
            pos += r.size;
            continue;
        }
        clean = false;
        std::fflush(stdout);
        std::fprintf(stderr, "ztc-logdump: %s: %s at byte offset %zu (record at %zu)\n", name,
                     logdump::describe(r.what), pos + r.problem, pos);
        if (!opt.resync) return false;
        pos = logdump::find_magic(bytes, pos + 1);
    }
}

} // namespace

int main(int argc, char **argv) {
    options opt;
    std::vector<const char *> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else if (arg == "--json") {
            opt.json = true;
        } else if (arg == "--resync") {
            opt.resync = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "ztc-logdump: unknown option %s\n%s", argv[i], usage);
            return 2;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) files.push_back("-");
    int status = 0;
    for (const char *name : files) {
        std::vector<uint8_t> bytes;
        if (!read_all(name, bytes)) {
            std::fprintf(stderr, "ztc-logdump: %s: %s\n", name, std::strerror(errno));
            status = 2;
            continue;
        }
        if (!dump(name, bytes, opt) && status == 0) status = 1;
    }
    return status;
}
