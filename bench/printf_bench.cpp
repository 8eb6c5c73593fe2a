// zt_snprintf against the bounded formatters C++ programmers choose for speed,
// in the same run: {fmt}'s format_to_n with a runtime format string,
// stb_sprintf's stbsp_snprintf, Abseil's SNPrintF and the C library's
// snprintf; and against a hand-written lower bound (the literal text copied,
// the values made by std::to_chars). Each peer's output is first compared with
// the C library's: a peer that differs on a format is not measured there and
// does not count as the fastest. Prints, per format, every time and zt's ratio
// to the fastest bounded peer, then the geometric mean over the set.
#include <benchmark/benchmark.h>

#include "bench/median_reporter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "base/ztc/os/printf.h"

#ifdef ZTC_BENCH_HAVE_FMT
#include <fmt/format.h>
#endif
#ifdef ZTC_BENCH_HAVE_STB
#include <stb_sprintf.h>
#endif
#ifdef ZTC_BENCH_HAVE_ABSL
#include <absl/strings/str_format.h>
#endif

namespace {

using Format = int (*)(char *buf, size_t size);

// Values the compiler cannot see through, so that no side folds them.
template <class T>
[[gnu::always_inline]] inline T opaque(T v) {
    if constexpr (std::is_floating_point_v<T>) {
        asm volatile("" : "+x"(v));
    } else {
        asm volatile("" : "+r"(v));
    }
    return v;
}
#define O(x) opaque(x)

// The lower bound's writer: literal text copied, values by std::to_chars,
// padding by hand, no bound checks (every output fits the bench's buffer).
struct Bound {
    char *start;
    char *p;
    explicit Bound(char *buf) : start(buf), p(buf) {}
    template <size_t N>
    void lit(const char (&text)[N]) {
        memcpy(p, text, N - 1);
        p += N - 1;
    }
    void text(const char *s) {
        const size_t n = strlen(s);
        memcpy(p, s, n);
        p += n;
    }
    void right(const char *s, size_t width) {
        const size_t n = strlen(s);
        if (n < width) p = static_cast<char *>(memset(p, ' ', width - n)) + (width - n);
        memcpy(p, s, n);
        p += n;
    }
    void left(const char *s, size_t width) {
        const size_t n = strlen(s);
        memcpy(p, s, n);
        p += n;
        if (n < width) p = static_cast<char *>(memset(p, ' ', width - n)) + (width - n);
    }
    template <class T>
    void num(T v, int base = 10) {
        p = std::to_chars(p, p + 32, v, base).ptr;
    }
    // A number padded on the left to width with fill.
    template <class T>
    void padded(T v, size_t width, char fill, int base = 10) {
        char digits[32];
        char *end = std::to_chars(digits, digits + sizeof digits, v, base).ptr;
        const size_t n = static_cast<size_t>(end - digits);
        if (n < width) p = static_cast<char *>(memset(p, fill, width - n)) + (width - n);
        memcpy(p, digits, n);
        p += n;
    }
    void real(double v, std::chars_format form, int precision) {
        p = std::to_chars(p, p + 64, v, form, precision).ptr;
    }
    int end() {
        *p = '\0';
        return static_cast<int>(p - start);
    }
};

const unsigned char address[4] = {192, 168, 10, 254};

int dotted_quad(const void *value, char *buf, size_t size) {
    const auto *a = static_cast<const unsigned char *>(value);
    return snprintf(buf, size, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
}

struct Entry {
    const char *name;
    Format zt;
    Format glibc;
    Format fmt; // null: not installed
    Format stb;
    Format absl;
    Format bound;
};

#ifdef ZTC_BENCH_HAVE_FMT
// Bounded like snprintf: at most size-1 bytes and a NUL.
#define FMT_PEER(ff, ...)                                                                          \
    [](char *b, size_t n) {                                                                        \
        const auto r = fmt::format_to_n(b, n - 1, fmt::runtime(ff), __VA_ARGS__);                  \
        *r.out = '\0';                                                                             \
        return static_cast<int>(r.size);                                                           \
    }
#else
#define FMT_PEER(ff, ...) nullptr
#endif
#ifdef ZTC_BENCH_HAVE_STB
#define STB_PEER(pf, ...)                                                                          \
    [](char *b, size_t n) { return stbsp_snprintf(b, static_cast<int>(n), pf, __VA_ARGS__); }
#else
#define STB_PEER(pf, ...) nullptr
#endif
#ifdef ZTC_BENCH_HAVE_ABSL
#define ABSL_PEER(pf, ...) [](char *b, size_t n) { return absl::SNPrintF(b, n, pf, __VA_ARGS__); }
#else
#define ABSL_PEER(pf, ...) nullptr
#endif

// One format of the set: its printf form, its {fmt} form, the lower bound's
// body (a Bound named w over the buffer) and the arguments.
#define ENTRY(name, pf, ff, bound_body, ...)                                                       \
    Entry {                                                                                        \
        name, [](char *b, size_t n) { return zt_snprintf(b, n, pf, __VA_ARGS__); },                \
            [](char *b, size_t n) { return snprintf(b, n, pf, __VA_ARGS__); },                     \
            FMT_PEER(ff, __VA_ARGS__), STB_PEER(pf, __VA_ARGS__), ABSL_PEER(pf, __VA_ARGS__),      \
            [](char *b, size_t) {                                                                  \
                Bound w(b);                                                                        \
                bound_body;                                                                        \
                return w.end();                                                                    \
            }                                                                                      \
    }

#define LONG_LITERAL                                                                               \
    "The launcher could not find the application in the slot that the boot hint names, so it "     \
    "looks at the next one: "
#define LITERAL_200                                                                                \
    "Settings were read from the user's directory, the boot hint names slot three, the "           \
    "application there was started and ended with the status that asks for a restart, so the "     \
    "launcher reads the hint again:"
static_assert(sizeof LITERAL_200 - 1 == 200);

const Entry entries[] = {
    ENTRY("%d", "%d", "{}", w.num(O(123456)), O(123456)),
    ENTRY("%u", "%u", "{}", w.num(O(4000000000u)), O(4000000000u)),
    ENTRY("%x", "%x", "{:x}", w.num(O(0xdeadbeefu), 16), O(0xdeadbeefu)),
    ENTRY("%s", "%s", "{}", w.text(O("a short text")), O("a short text")),
    ENTRY(
        "%s:%d", "%s:%d", "{}:{}",
        {
            w.text(O("host.example"));
            w.lit(":");
            w.num(O(8080));
        },
        O("host.example"), O(8080)),
    ENTRY(
        "%-10s|%5d", "%-10s|%5d", "{:<10}|{:5}",
        {
            w.left(O("left"), 10);
            w.lit("|");
            w.padded(O(42), 5, ' ');
        },
        O("left"), O(42)),
    ENTRY(
        "%08.3f", "%08.3f", "{:08.3f}",
        {
            char t[32];
            const size_t n = static_cast<size_t>(
                std::to_chars(t, t + 32, O(3.14159265), std::chars_format::fixed, 3).ptr - t);
            w.p = static_cast<char *>(memset(w.p, '0', 8 - n)) + (8 - n);
            memcpy(w.p, t, n);
            w.p += n;
        },
        O(3.14159265)),
    ENTRY("%lld", "%lld", "{}", w.num(O(-9000000000000000000LL)), O(-9000000000000000000LL)),
    ENTRY("%zu", "%zu", "{}", w.num(O(size_t{18446744073709551615u})),
          O(size_t{18446744073709551615u})),
    ENTRY(
        "positional", "%2$s:%1$d %2$s", "{1}:{0} {1}",
        {
            const char *name = O("name");
            w.text(name);
            w.lit(":");
            w.num(O(42));
            w.lit(" ");
            w.text(name);
        },
        O(42), O("name")),
    ENTRY(
        "header line", "%02d:%16s %11s%1d    %32s: %4d:  %s",
        "{:02}:{:>16} {:>11}{:1}    {:>32}: {:4}:  {}",
        {
            w.padded(O(7), 2, '0');
            w.lit(":");
            w.right(O("12:00:01.123456"), 16);
            w.lit(" ");
            w.right(O("GENERIC"), 11);
            w.num(O(3));
            w.lit("    ");
            w.right(O("zt_vsprintf"), 32);
            w.lit(": ");
            w.padded(O(227), 4, ' ');
            w.lit(":  ");
            w.text(O("a message of moderate length"));
        },
        O(7), O("12:00:01.123456"), O("GENERIC"), O(3), O("zt_vsprintf"), O(227),
        O("a message of moderate length")),
    ENTRY(
        "long literal", LONG_LITERAL "%d", LONG_LITERAL "{}",
        {
            w.lit(LONG_LITERAL);
            w.num(O(12));
        },
        O(12)),
    ENTRY(
        "200-byte literal", LITERAL_200 "%d", LITERAL_200 "{}",
        {
            w.lit(LITERAL_200);
            w.num(O(3));
        },
        O(3)),
    ENTRY("%016llx", "%016llx", "{:016x}", w.padded(O(0x1234abcdULL), 16, '0', 16),
          O(0x1234abcdULL)),
    ENTRY("%.17g", "%.17g", "{:.17g}", w.real(O(0.1), std::chars_format::general, 17), O(0.1)),
    ENTRY("%e", "%e", "{:e}", w.real(O(6.02214076e23), std::chars_format::scientific, 6),
          O(6.02214076e23)),
    ENTRY(
        "five-field line", "%s [%s] request %d done in %f ms, %d bytes",
        "{} [{}] request {} done in {:f} ms, {} bytes",
        {
            w.text(O("http"));
            w.lit(" [");
            w.text(O("worker-2"));
            w.lit("] request ");
            w.num(O(1842));
            w.lit(" done in ");
            w.real(O(12.5625), std::chars_format::fixed, 6);
            w.lit(" ms, ");
            w.num(O(5120));
            w.lit(" bytes");
        },
        O("http"), O("worker-2"), O(1842), O(12.5625), O(5120)),
};

constexpr size_t PEERS = 6;
const char *const peer_names[PEERS] = {"zt", "glibc", "fmt", "stb", "absl", "bound"};
constexpr size_t ZT = 0, GLIBC = 1, BOUND = 5;

Format peer(const Entry &e, size_t i) {
    const Format all[PEERS] = {e.zt, e.glibc, e.fmt, e.stb, e.absl, e.bound};
    return all[i];
}

constexpr size_t BUF_SIZE = 256;

// The peer's output equals the C library's, bytes and result.
bool same_as_glibc(const Entry &e, size_t i) {
    char expected[BUF_SIZE], got[BUF_SIZE];
    memset(got, 0x55, sizeof got);
    const int n = e.glibc(expected, sizeof expected);
    const int m = peer(e, i)(got, sizeof got);
    return n == m && n >= 0 && static_cast<size_t>(n) < BUF_SIZE &&
           memcmp(expected, got, n + 1) == 0;
}

void run(benchmark::State &state, Format format) {
    char buf[BUF_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(format(buf, sizeof buf));
        benchmark::ClobberMemory();
    }
}

std::string bench_name(size_t peer_index, const char *format) {
    return std::string(peer_names[peer_index]) + "/" + format;
}

} // namespace

int main(int argc, char **argv) {
    zt_printf_register("bench_ip", dotted_quad);
#ifndef ZTC_BENCH_HAVE_FMT
    printf("{fmt} is not installed (Debian libfmt-dev, bench/setup): skipped\n");
#endif
#ifndef ZTC_BENCH_HAVE_STB
    printf("stb_sprintf is not installed (Debian libstb-dev, bench/setup): skipped\n");
#endif
#ifndef ZTC_BENCH_HAVE_ABSL
    printf("Abseil is not installed (Debian libabsl-dev, bench/setup): skipped\n");
#endif

    // Which peers print each format as the C library does.
    std::vector<std::vector<bool>> counts(std::size(entries), std::vector<bool>(PEERS));
    for (size_t f = 0; f < std::size(entries); ++f) {
        for (size_t i = 0; i < PEERS; ++i) {
            if (peer(entries[f], i) == nullptr) continue;
            counts[f][i] = same_as_glibc(entries[f], i);
            if (!counts[f][i])
                printf("%s differs from glibc on %s: not counted there\n", peer_names[i],
                       entries[f].name);
            else
                benchmark::RegisterBenchmark(bench_name(i, entries[f].name).c_str(), run,
                                             peer(entries[f], i));
        }
    }
    // The extension conversion against the same text made by hand (outside the set).
    benchmark::RegisterBenchmark("zt/extension", run, [](char *b, size_t n) {
        return zt_snprintf(b, n, "ip %p{bench_ip}", address);
    });
    benchmark::RegisterBenchmark("glibc/extension", run, [](char *b, size_t n) {
        char text[256];
        dotted_quad(address, text, sizeof text);
        return snprintf(b, n, "ip %s", text);
    });

    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\nCPU ns per call (median); \"-\": not installed or output differs from glibc's\n");
    printf("%-16s", "format");
    for (const char *name : peer_names) printf(" %7s", name);
    printf(" %8s %9s\n", "fastest", "zt/fast");
    double log_fastest = 0, log_glibc = 0, log_bound = 0, worst = 0;
    size_t n = 0;
    for (size_t f = 0; f < std::size(entries); ++f) {
        const Entry &e = entries[f];
        double t[PEERS] = {};
        printf("%-16s", e.name);
        for (size_t i = 0; i < PEERS; ++i) {
            if (counts[f][i]) t[i] = reporter.median(bench_name(i, e.name));
            if (t[i] > 0) {
                printf(" %7.1f", t[i]);
            } else {
                printf(" %7s", "-");
            }
        }
        // The fastest bounded peer: neither zt nor the lower bound.
        size_t fastest = GLIBC;
        for (size_t i = GLIBC; i < BOUND; ++i)
            if (t[i] > 0 && (t[fastest] <= 0 || t[i] < t[fastest])) fastest = i;
        if (t[ZT] <= 0 || t[fastest] <= 0 || t[BOUND] <= 0) {
            printf("\n");
            continue;
        }
        const double ratio = t[ZT] / t[fastest];
        printf(" %8s %9.2f\n", peer_names[fastest], ratio);
        log_fastest += std::log(ratio);
        log_glibc += std::log(t[ZT] / t[GLIBC]);
        log_bound += std::log(t[ZT] / t[BOUND]);
        worst = std::max(worst, ratio);
        ++n;
    }
    if (n != 0) {
        printf("zt / fastest bounded peer over %zu formats: geometric mean %.2f (target <= 0.80), "
               "largest %.2f (target <= 1.00)\n",
               n, std::exp(log_fastest / n), worst);
        printf("zt / glibc: geometric mean %.2f; zt / lower bound: geometric mean %.2f\n",
               std::exp(log_glibc / n), std::exp(log_bound / n));
    }
    const double ext = reporter.median("zt/extension");
    const double ext_glibc = reporter.median("glibc/extension");
    if (ext > 0 && ext_glibc > 0)
        printf("extension %%p{bench_ip} (outside the set): zt %.1f ns, the text made by hand and "
               "snprintf %.1f ns, ratio %.2f\n",
               ext, ext_glibc, ext / ext_glibc);
    benchmark::Shutdown();
    return 0;
}
