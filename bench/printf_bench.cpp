// zt_snprintf against the C library's snprintf on the same formats, in the same
// run; the extension conversion against the hand-written equivalent.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

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
};

#define SAME_FORMAT(name, ...)                                                                     \
    Pair {                                                                                         \
        name, [](char *b, size_t n) { return zt_snprintf(b, n, __VA_ARGS__); },                    \
            [](char *b, size_t n) { return snprintf(b, n, __VA_ARGS__); }                          \
    }

const Pair pairs[] = {
    SAME_FORMAT("%d", "%d", 123456),
    SAME_FORMAT("%s", "%s", "a short text"),
    SAME_FORMAT("%s:%d", "%s:%d", "host.example", 8080),
    SAME_FORMAT("log line", "%02d:%16s %11s%1d %32s: %4d", 7, "12:00:01.123456", "GENERIC", 3,
                "zt_vsprintf", 227),
    SAME_FORMAT("%08.3f", "%08.3f", 3.14159265),
    SAME_FORMAT("positional", "%2$s:%1$d %2$s", 42, "name"),
    Pair{"extension",
         [](char *b, size_t n) { return zt_snprintf(b, n, "ip %p{bench_ip}", address); },
         [](char *b, size_t n) {
             char text[256];
             dotted_quad(address, text, sizeof text);
             return snprintf(b, n, "ip %s", text);
         }},
};

void run(benchmark::State &state, Format format) {
    char buf[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(format(buf, sizeof buf));
        benchmark::ClobberMemory();
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

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
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\n%-12s %12s %12s %8s\n", "format", "zt cpu ns", "libc cpu ns", "ratio");
    for (const Pair &pair : pairs) {
        const double ours = reporter.times[std::string("zt_snprintf/") + pair.name];
        const double baseline = reporter.times[std::string("baseline/") + pair.name];
        if (ours > 0 && baseline > 0) {
            printf("%-12s %12.1f %12.1f %8.2f\n", pair.name, ours, baseline, ours / baseline);
        }
    }
    benchmark::Shutdown();
    return 0;
}
