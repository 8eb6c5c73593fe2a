// zt_snprintf against the C library's snprintf on the same formats and
// arguments, in the same run; the extension conversion against the
// hand-written equivalent. Prints each ratio, the median over the format mix
// and the largest single ratio.
#include <benchmark/benchmark.h>

#include "bench/median_reporter.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/ztc/os/printf.h"

namespace {

using Format = int (*)(char *buf, size_t size);

const unsigned char address[4] = {192, 168, 10, 254};

int dotted_quad(const void *value, char *buf, size_t size) {
    const auto *a = static_cast<const unsigned char *>(value);
    return snprintf(buf, size, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
}

struct Pair {
    const char *name;
    Format ours;
    Format baseline;
    bool in_mix; // counts toward the median over the format mix
};

#define SAME_FORMAT(name, ...)                                                                     \
    Pair {                                                                                         \
        name, [](char *b, size_t n) { return zt_snprintf(b, n, __VA_ARGS__); },                    \
            [](char *b, size_t n) { return snprintf(b, n, __VA_ARGS__); }, true                    \
    }

const Pair pairs[] = {
    SAME_FORMAT("%d", "%d", 123456),
    SAME_FORMAT("%u", "%u", 4000000000u),
    SAME_FORMAT("%x", "%x", 0xdeadbeefu),
    SAME_FORMAT("%s", "%s", "a short text"),
    SAME_FORMAT("%s:%d", "%s:%d", "host.example", 8080),
    SAME_FORMAT("%-10s|%5d", "%-10s|%5d", "left", 42),
    SAME_FORMAT("%08.3f", "%08.3f", 3.14159265),
    SAME_FORMAT("%lld", "%lld", -9000000000000000000LL),
    SAME_FORMAT("%zu", "%zu", size_t{18446744073709551615u}),
    SAME_FORMAT("positional", "%2$s:%1$d %2$s", 42, "name"),
    SAME_FORMAT("log line", "%02d:%16s %11s%1d    %32s: %4d:  %s", 7, "12:00:01.123456", "GENERIC",
                3, "zt_vsprintf", 227, "a message of moderate length"),
    SAME_FORMAT("long literal",
                "The launcher could not find the application in the slot that the boot hint "
                "names, so it looks at the next one: %d",
                12),
    Pair{"extension",
         [](char *b, size_t n) { return zt_snprintf(b, n, "ip %p{bench_ip}", address); },
         [](char *b, size_t n) {
             char text[256];
             dotted_quad(address, text, sizeof text);
             return snprintf(b, n, "ip %s", text);
         },
         false},
};

void run(benchmark::State &state, Format format) {
    char buf[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(format(buf, sizeof buf));
        benchmark::ClobberMemory();
    }
}

} // namespace

int main(int argc, char **argv) {
    zt_printf_register("bench_ip", dotted_quad);
    for (const Pair &pair : pairs) {
        benchmark::RegisterBenchmark((std::string("zt_snprintf/") + pair.name).c_str(), run,
                                     pair.ours);
        benchmark::RegisterBenchmark((std::string("baseline/") + pair.name).c_str(), run,
                                     pair.baseline);
    }
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\n%-14s %12s %12s %8s\n", "format", "zt cpu ns", "libc cpu ns", "ratio");
    std::vector<double> mix;
    double worst = 0;
    for (const Pair &pair : pairs) {
        const double ours = reporter.median(std::string("zt_snprintf/") + pair.name);
        const double baseline = reporter.median(std::string("baseline/") + pair.name);
        if (ours <= 0 || baseline <= 0) continue;
        const double ratio = ours / baseline;
        printf("%-14s %12.1f %12.1f %8.2f\n", pair.name, ours, baseline, ratio);
        if (!pair.in_mix) continue;
        mix.push_back(ratio);
        worst = std::max(worst, ratio);
    }
    if (!mix.empty()) {
        std::sort(mix.begin(), mix.end());
        const size_t n = mix.size();
        const double median = n % 2 ? mix[n / 2] : (mix[n / 2 - 1] + mix[n / 2]) / 2;
        printf("format mix: median ratio %.2f (target <= 0.60), largest %.2f (target <= 1.10)\n",
               median, worst);
    }
    benchmark::Shutdown();
    return 0;
}
