// Debug print costs: a standard-error line against the same line made with snprintf, and
// lines per second from several threads (the unwanted print is in logger_bench).
#include <stdio.h>
#include <string.h>

#include <benchmark/benchmark.h>

#include "base/ztc/debug/debug.h"

namespace {
constexpr const char *kFormat = "%02d:%16s %11s%1d    %.0s%32s: %4d:  %s%s\n";
// kFormat with the benchmark's message in place of the last %s.
constexpr const char *kInlineFormat =
    "%02d:%16s %11s%1d    %.0s%32s: %4d:  %sopened %s in %d ms (%x)\n";

int discard(intptr_t, const void *, size_t len) {
    benchmark::DoNotOptimize(len);
    return static_cast<int>(len);
}

void fixed_time(struct timeval *tv) {
    *tv = {5, 42};
}

debug_output_t make_discarding_output() {
    debug_output_t o{};
    o.id = 5;
    for (int &level : o.levels) level = 3;
    o.type = DEBUG_OUTPUT_TEXT;
    strcpy(o.u.text.format, kFormat);
    pthread_mutex_init(&o.u.text.lock, nullptr);
    o.u.text.write = discard;
    return o;
}

debug_output_t discarding = make_discarding_output();

// Only the discarding output is listed while these benchmarks run.
struct OnlyDiscarding {
    OnlyDiscarding() {
        debug_output_list = &discarding;
        debug_get_time_function = fixed_time;
    }
} only_discarding;

void BM_LineThroughDebugPrint(benchmark::State &state) {
    for (auto _ : state)
        debug_print(&discarding, 1, 3, "base/ztc/bench", 10, "bench_function",
                    "opened %s in %d ms (%x)", "settings.dat", 12, 0xbeef);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LineThroughDebugPrint);

void BM_SameLineWithSnprintf(benchmark::State &state) {
    for (auto _ : state) {
        struct timeval tv;
        fixed_time(&tv);
        char time_text[256], line[1024];
        snprintf(time_text, sizeof time_text, "%09lu.%06lu", static_cast<unsigned long>(tv.tv_sec),
                 static_cast<unsigned long>(tv.tv_usec));
        int n = snprintf(line, sizeof line, kInlineFormat, -1, time_text, debug_type_strings[1], 3,
                         "base/ztc/bench", "bench_function", 10, "", "settings.dat", 12, 0xbeef);
        discard(0, line, static_cast<size_t>(n));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SameLineWithSnprintf);

void BM_ThreadsPrintingToAllOutputs(benchmark::State &state) {
    for (auto _ : state)
        debug_print(nullptr, 1, 3, "base/ztc/bench", 10, "bench_function",
                    "opened %s in %d ms (%x)", "settings.dat", 12, 0xbeef);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ThreadsPrintingToAllOutputs)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
