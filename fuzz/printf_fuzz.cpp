// The formatting engine on formats over its whole language: texts (null ones too), wide texts
// with and without a precision, reals with every flag, %c, %n, %m, positional numbers, `*` and
// `*n$`, and `%p{name}` with the standard extensions. The input is
//   [size selector] [errno and choices] format NUL [bytes for the values]
// The format is parsed as the engine parses it, and each argument it reads gets a value of the
// type it reads, laid out as the x86-64 calling convention passes variadic arguments past the
// registers; a va_list pointed at them serves any format. Every call is checked against the
// others: each buffer size, the direct output, the general path and the wide entry point.
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/ztc/os/path.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/framed.hpp"
#include "base/ztc/os/printf/internal.hpp"
#include "base/ztc/time/time.h"

#if !defined(__x86_64__) || !defined(__linux__)
#error "the arguments are laid out as the x86-64 System V convention passes them"
#endif

namespace {

using namespace ztc::printf_engine;

void check(bool ok) {
    if (!ok) std::abort();
}

// The values' bytes: those after the format, then a generator seeded by the input.
class Source {
  public:
    Source(const uint8_t *data, size_t size, uint64_t seed) : data_(data), size_(size) {
        state_ = seed | 1;
    }
    uint8_t byte() {
        if (used_ < size_) return data_[used_++];
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint8_t>(state_);
    }
    template <class T>
    T bits() {
        T value{};
        auto *p = reinterpret_cast<unsigned char *>(&value);
        for (size_t i = 0; i < sizeof value; ++i) p[i] = byte();
        return value;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t used_ = 0;
    uint64_t state_;
};

// Variadic arguments past the registers: 8-byte slots, a long double in an aligned 16-byte one.
struct Arguments {
    alignas(16) unsigned char area[(MAX_VARARG_COUNT + 1) * 16] = {};
    size_t used = 0;

    template <class T>
    void put(T value) {
        static_assert(sizeof(T) <= 8);
        memcpy(area + used, &value, sizeof value);
        used += 8;
    }
    void put_long_double(long double value) {
        used = (used + 15) & ~size_t{15};
        memcpy(area + used, &value, sizeof value);
        used += 16;
    }
};

// The layout of the x86-64 va_list: offsets past the saved registers send every va_arg to
// the overflow area.
struct VaListTag {
    unsigned gp_offset;
    unsigned fp_offset;
    void *overflow_arg_area;
    void *reg_save_area;
};
static_assert(sizeof(VaListTag) == sizeof(va_list));

enum class Way { engine, direct, general };

int format(Way way, char *buf, size_t size, const char *fmt, Arguments &args) {
    const VaListTag tag{6 * 8, 6 * 8 + 16 * 16, args.area, nullptr};
    va_list ap;
    memcpy(ap, &tag, sizeof tag);
    bool general_first = false;
    return way == Way::engine   ? zt_vsprintf(buf, size, fmt, ap)
           : way == Way::direct ? render_direct(buf, size, fmt, nullptr, ap, general_first)
                                : vsprintf_general(buf, size, fmt, ap);
}

int format_framed(char *buf, size_t size, std::string_view before, const char *fmt,
                  std::string_view after, Arguments &args) {
    const VaListTag tag{6 * 8, 6 * 8 + 16 * 16, args.area, nullptr};
    va_list ap;
    memcpy(ap, &tag, sizeof tag);
    return vsprintf_framed(buf, size, before, fmt, after, ap);
}

ssize_t format_wide(wchar_t *buf, size_t capacity, const char *fmt, Arguments &args) {
    const VaListTag tag{6 * 8, 6 * 8 + 16 * 16, args.area, nullptr};
    va_list ap;
    memcpy(ap, &tag, sizeof tag);
    return zt_vswprintf(buf, capacity, fmt, ap);
}

// Wide characters that end where an unreadable page begins: read only under a precision.
struct GuardedWide {
    static constexpr wchar_t text[] = L"ab\u00e9\u263a\U0001F600"; // 11 bytes of UTF-8
    static constexpr size_t length = sizeof text / sizeof text[0] - 1;
    static constexpr int utf8_bytes = 11;
    const wchar_t *start = nullptr;

    GuardedWide() {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void *memory =
            mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        check(memory != MAP_FAILED);
        check(mprotect(static_cast<char *>(memory) + page, page, PROT_NONE) == 0);
        auto *end = reinterpret_cast<wchar_t *>(static_cast<char *>(memory) + page);
        wmemcpy(end - length, text, length);
        start = end - length;
    }
};

// The precision written in a conversion's text: -1 for none or a `*`.
long long literal_precision(const Arg &arg) {
    const char *p = strchr(arg.cs, '.');
    if (p == nullptr || p[1] == '*') return -1;
    long long precision = 0;
    for (++p; *p >= '0' && *p <= '9'; ++p) precision = precision * 10 + (*p - '0');
    return precision;
}

// Everything one input's calls read: texts, wide texts, the extension value, count targets.
struct Values {
    std::vector<std::string> texts;
    std::vector<std::wstring> wides;
    alignas(16) unsigned char record[128];
    long long counts[MAX_VARARG_COUNT];
    bool changes_with_time = false; // a distance from now: equal calls may differ
};

void make_values(Values &v, Source &source) {
    for (int i = 0; i < 3; ++i) {
        std::string text;
        for (size_t n = source.byte() % 24; n > 0; --n)
            text += static_cast<char>(source.byte() | 1);
        v.texts.push_back(text);
        std::wstring wide;
        for (size_t n = source.byte() % 12; n > 0; --n) {
            // Mostly characters, some surrogates and values past the last one.
            const uint32_t c = source.bits<uint32_t>();
            const uint8_t kind = source.byte() % 4;
            wide += static_cast<wchar_t>(kind == 0   ? c % 0x80 + 1
                                         : kind == 1 ? c % 0x110000 | 1
                                                     : c | 1);
        }
        v.wides.push_back(wide);
    }
    for (unsigned char &b : v.record) b = source.byte();
    const sa_family_t families[] = {AF_INET, AF_INET6, AF_UNIX, source.bits<sa_family_t>()};
    const sa_family_t family = families[source.byte() % 4];
    memcpy(v.record, &family, sizeof family);
}

bool changes_with_time(const Arg &arg) {
    return arg.ext != nullptr && (arg.ext->formatter == zt_printf_cb_zt_reltime ||
                                  arg.ext->formatter == zt_printf_cb_zt_reltime_pretty);
}

// One value of the type that argument `number` is read as, by its first record.
void put_value(Arguments &args, Values &v, Source &source, const Arg *records, int count,
               int number, const GuardedWide &guarded) {
    const Arg *first = nullptr;
    long long widest = -2; // the largest literal precision of the records, -1 for none
    for (int i = 0; i < count; ++i) {
        if (records[i].vararg_number != number) continue;
        if (first == nullptr) first = &records[i];
        const long long precision = literal_precision(records[i]);
        widest = precision < 0 || widest == -1 ? -1 : std::max(widest, precision);
        v.changes_with_time |= changes_with_time(records[i]);
    }
    if (first == nullptr) {
        args.put(0LL); // the engine reports the gap before it reads on
        return;
    }
    const uint8_t choice = source.byte();
    switch (first->type) {
    case ZT_PRINTF_TYPE_INT:
    case ZT_PRINTF_TYPE_UINT:
        if (reads_64_bits(first->len)) {
            args.put(source.bits<long long>());
        } else {
            args.put(source.bits<int>());
        }
        break;
    case ZT_PRINTF_TYPE_DOUBLE:
        if (first->len == ZT_PRINTF_LEN_CAPITAL_L) {
            // A long double made from a double: every value it holds is a valid one.
            args.put_long_double(static_cast<long double>(source.bits<double>()) *
                                 (choice % 2 ? 1.0L : 1e300L));
        } else {
            args.put(source.bits<double>());
        }
        break;
    case ZT_PRINTF_TYPE_CHAR:
        args.put(first->len == ZT_PRINTF_LEN_L && choice % 2 ? static_cast<int>(choice % 0x80)
                                                             : source.bits<int>());
        break;
    case ZT_PRINTF_TYPE_STRING:
        if (choice % 8 == 0) {
            args.put(static_cast<const void *>(nullptr));
        } else if (first->len != ZT_PRINTF_LEN_L) {
            args.put(v.texts[choice % v.texts.size()].c_str());
        } else if (widest >= 0 && widest <= GuardedWide::utf8_bytes && choice % 2) {
            args.put(guarded.start);
        } else {
            args.put(v.wides[choice % v.wides.size()].c_str());
        }
        break;
    case ZT_PRINTF_TYPE_POINTER:
        args.put(choice % 16 == 0 ? nullptr : static_cast<const void *>(v.record));
        break;
    case ZT_PRINTF_TYPE_COUNT:
        args.put(&v.counts[number - 1]);
        break;
    case ZT_PRINTF_TYPE_WIDTH:
    case ZT_PRINTF_TYPE_PRECISION: {
        // Short pieces keep each run quick. The C library pads a width of INT_MIN to 2 GiB
        // before it fails, so only a precision takes that value (and counts as none).
        const bool extreme = choice == 0 && first->type == ZT_PRINTF_TYPE_PRECISION;
        args.put(extreme ? INT_MIN : static_cast<int>(source.byte() % 81) - 40);
        break;
    }
    default:
        args.put(0LL);
        break;
    }
}

// The arguments a parsed format reads: their count, and the type and length of each.
std::vector<std::pair<int, int>> reads(const Arg *records, const ParsedFormat &parsed) {
    std::vector<std::pair<int, int>> types(static_cast<size_t>(parsed.value_count), {0, 0});
    for (int i = parsed.arg_count - 1; i >= 0; --i) {
        const int number = records[i].vararg_number;
        if (number >= 1 && number <= parsed.value_count)
            types[static_cast<size_t>(number - 1)] = {records[i].type, records[i].len};
    }
    types.emplace_back(parsed.errno_number != 0, 0);
    return types;
}

std::string doubled(std::string_view text) {
    std::string out;
    for (char c : text) out.append(c == '%' ? 2 : 1, c);
    return out;
}

const GuardedWide &guarded_wide() {
    static const GuardedWide guarded;
    return guarded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    // The format: up to the first NUL, widths and precisions of at most four digits.
    std::string fmt;
    size_t i = 2;
    for (int digits = 0; i < size && data[i] != 0 && fmt.size() < 300; ++i) {
        const char c = static_cast<char>(data[i]);
        digits = c >= '0' && c <= '9' ? digits + 1 : 0;
        if (digits <= 4) fmt += c;
    }
    const size_t values_at = std::min(size, i + 1);
    Source source(data + values_at, size - values_at, size * 0x9E3779B97F4A7C15ull + data[1]);
    Values values;
    make_values(values, source);

    Arguments args;
    static Arg records[MAX_VARARG_COUNT];
    ParsedFormat parsed;
    const bool parsed_ok = !parse_format(fmt.c_str(), records, parsed);
    if (parsed_ok) {
        for (int number = 1; number <= parsed.value_count; ++number) {
            put_value(args, values, source, records, parsed.arg_count, number, guarded_wide());
        }
    }
    const int saved_errno = data[1] % 40;
    auto call = [&](Way way, char *buf, size_t n) {
        errno = saved_errno;
        return format(way, buf, n, fmt.c_str(), args);
    };

    const int full = call(Way::engine, nullptr, 0);
    check(full >= 0);
    if (full > (1 << 20)) return 0;
    std::vector<char> whole(static_cast<size_t>(full) + 1);
    const int again = call(Way::engine, whole.data(), whole.size());
    check(again >= 0 && whole[std::min(static_cast<size_t>(again), whole.size() - 1)] == '\0');
    if (values.changes_with_time) return 0; // each call may see another now

    // Only an error text is longer once it has room: at size 0 its header alone is counted.
    const bool rejected = again != full;
    size_t header = 0;
    if (rejected) {
        check(strncmp(whole.data(), "error:", 6) == 0);
        header = static_cast<size_t>(strchr(whole.data() + 6, ':') - whole.data()) + 1;
        check(header == static_cast<size_t>(full));
        whole.resize(static_cast<size_t>(again) + 1);
        check(call(Way::engine, whole.data(), whole.size()) == again);
    }
    const size_t length = static_cast<size_t>(again);

    // A smaller buffer with guard bytes on both sides holds the start of the whole output.
    const size_t small = data[0] % (length + 2);
    std::vector<char> guarded(small + 32, '\x5A');
    char *buf = guarded.data() + 16;
    const int cut = call(Way::engine, small ? buf : nullptr, small);
    for (size_t g = 0; g < 16; ++g) check(guarded[g] == '\x5A' && buf[small + g] == '\x5A');
    check(cut == (rejected && small <= header ? full : again));
    if (small > 0) {
        const size_t kept = std::min(small - 1, length);
        check(buf[kept] == '\0' && memcmp(buf, whole.data(), kept) == 0);
    }

    // The direct output, where it serves the format, prints the general path's bytes; where
    // it gives up, the general path run after it leaves what it leaves alone, and a format
    // that the general path rejects was never printed.
    std::vector<char> direct(guarded.size(), '\x5A'), general(direct);
    const int by_general = call(Way::general, small ? general.data() + 16 : nullptr, small);
    const int by_direct = call(Way::direct, small ? direct.data() + 16 : nullptr, small);
    if (by_direct < 0) {
        if (rejected)
            check(std::all_of(direct.begin(), direct.end(), [](char c) { return c == '\x5A'; }));
        check(call(Way::general, small ? direct.data() + 16 : nullptr, small) == by_general);
    } else {
        check(by_direct == by_general);
    }
    check(direct == general && by_general == cut);

    // Framed printing: the format with literal text around it prints as the whole format with
    // that text's "%" doubled, or refuses before it reads an argument; the text after it is
    // chosen to continue the format's end where it can.
    static const char *const tails[] = {"\n", "x}", "2d", "$s", "64d", "%s", "1$d"};
    const std::string before = "-1:5%", after = tails[data[1] % 7];
    std::vector<char> framed(length + 64), whole_framed(framed.size());
    errno = saved_errno;
    const int by_frame =
        format_framed(framed.data(), framed.size(), before, fmt.c_str(), after, args);
    if (by_frame != -1 && parsed_ok) {
        const std::string joined = doubled(before) + fmt + doubled(after);
        static Arg joined_records[MAX_VARARG_COUNT];
        ParsedFormat joined_parsed;
        // Served, the joined format must read the very arguments the format reads. Framed
        // printing is not bound by the records that the texts' "%" would need.
        const Failure failure = parse_format(joined.c_str(), joined_records, joined_parsed);
        if (failure.check != CHECK_TABLE_FULL && failure.check != CHECK_WIDTH_TABLE_FULL &&
            failure.check != CHECK_PRECISION_TABLE_FULL) {
            check(!failure && reads(joined_records, joined_parsed) == reads(records, parsed));
            errno = saved_errno;
            check(format(Way::engine, whole_framed.data(), whole_framed.size(), joined.c_str(),
                         args) == by_frame);
            check(framed == whole_framed);
        }
    }

    // The wide entry point converts what the engine prints into its scratch.
    const size_t capacity = data[0] % 64 + 1;
    std::vector<wchar_t> wide(capacity + 8, L'#'), expected(capacity + 8, L'#');
    errno = saved_errno;
    const ssize_t converted = format_wide(wide.data(), capacity, fmt.c_str(), args);
    check(converted >= -1 && converted <= static_cast<ssize_t>(capacity));
    for (size_t w = capacity; w < wide.size(); ++w) check(wide[w] == L'#');
    if (4 * capacity > length) {
        const size_t reference = zt_utf8_to_wcs(expected.data(), whole.data(), capacity);
        check(converted == (reference == ZT_UTF_ERROR ? -1 : static_cast<ssize_t>(reference)));
        if (converted >= 0)
            check(std::equal(wide.begin(), wide.begin() + converted, expected.begin()));
    }
    return 0;
}
