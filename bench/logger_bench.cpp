// The debug print against the usual C++ logger, in the same run: one
// standard-error-format line delivered to an output whose callback discards
// the bytes, against the same line through spdlog with a sink that formats it
// and discards it (not spdlog's null sink, which applies no pattern); the same
// line appended to a file by a file output, against spdlog's synchronous
// basic_file_sink_mt; and a print that no output wants against an empty call
// with the same arguments and against a bare walk of the output list.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include "bench/median_reporter.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/ztc/debug/debug.h"
#include "base/ztc/debug/outputs.h"

#ifdef ZTC_BENCH_HAVE_SPDLOG
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#endif

namespace {

int discard(intptr_t, const void *bytes, size_t len) {
    benchmark::DoNotOptimize(bytes);
    return static_cast<int>(len);
}

// The standard-error output as it starts, with a callback that discards.
debug_output_t make_discarding_output() {
    debug_output_t o = debug_output_stderr;
    o.id = 7;
    pthread_mutex_init(&o.u.text.lock, nullptr);
    o.u.text.write = discard;
    o.next = nullptr;
    return o;
}
debug_output_t discarding = make_discarding_output();

void BM_PrintNoOutputWants(benchmark::State &state) {
    // Level 4 is above the standard-error output's level 3.
    for (auto _ : state)
        benchmark::DoNotOptimize(
            debug_print(nullptr, 1, 4, "base/ztc/bench", 10, "bench_function", "never %d", 1));
}
BENCHMARK(BM_PrintNoOutputWants);

} // namespace

// The floor: a call of a function with debug_print's signature that does
// nothing. Outside the anonymous namespace and, for GCC, without
// interprocedural changes: a clone without the unused arguments would not be
// the same call.
#if defined(__GNUC__) && !defined(__clang__)
#define BENCH_OPAQUE_CALL gnu::noipa
#else
#define BENCH_OPAQUE_CALL gnu::noinline
#endif
extern "C" [[BENCH_OPAQUE_CALL]] int empty_print(debug_output_t *output, int, int, const char *,
                                                 int, const char *, const char *, ...) {
    benchmark::DoNotOptimize(output);
    return 0;
}

// What any level walk costs at the least: the module test and a walk of the
// list as it starts (the standard-error output alone), without the reader
// mark, the frame or anything else the library's print does.
extern "C" [[BENCH_OPAQUE_CALL]] int bare_walk(debug_output_t *output, int module, int level,
                                               const char *, int, const char *, const char *, ...) {
    if (static_cast<unsigned>(module) >= DEBUG_MODULE_COUNT) return 0;
    if (output == nullptr) {
        for (const debug_output_t *o = __atomic_load_n(&debug_output_list, __ATOMIC_ACQUIRE);
             o != nullptr; o = __atomic_load_n(&o->next, __ATOMIC_ACQUIRE))
            if (__atomic_load_n(&o->levels[module], __ATOMIC_RELAXED) >= level) return 1;
        return 0;
    }
    return 1;
}

namespace {

void BM_BareWalkSameArguments(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(
            bare_walk(nullptr, 1, 4, "base/ztc/bench", 10, "bench_function", "never %d", 1));
}
BENCHMARK(BM_BareWalkSameArguments);

void BM_EmptyCallSameArguments(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(
            empty_print(nullptr, 1, 4, "base/ztc/bench", 10, "bench_function", "never %d", 1));
}
BENCHMARK(BM_EmptyCallSameArguments);

void BM_LineToDiscardingOutput(benchmark::State &state) {
    for (auto _ : state)
        debug_print(&discarding, 1, 3, "base/ztc/bench", 10, "bench_function",
                    "opened %s in %d ms (%x)", "settings.dat", 12, 0xbeef);
}
BENCHMARK(BM_LineToDiscardingOutput);

// Both loggers write their files in one scratch directory, each file made anew per run.
const std::string &scratch_dir() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/ztc_logger_bench_XXXXXX";
        return std::string(mkdtemp(tmpl) != nullptr ? tmpl : "");
    }();
    return dir;
}

std::string scratch_file(const char *name) {
    std::string path = (scratch_dir().empty() ? "/tmp" : scratch_dir()) + "/" + name;
    unlink(path.c_str());
    return path;
}

void BM_LineToFileOutput(benchmark::State &state) {
    const std::string path = scratch_file("ztc.log");
    debug_output_t *file =
        debug_output_open_file("bench file", path.c_str(), DEBUG_OUTPUT_TEXT, 0, 0);
    if (file == nullptr) {
        state.SkipWithError("cannot open the file");
        return;
    }
    for (auto _ : state)
        debug_print(file, 1, 3, "base/ztc/bench", 10, "bench_function", "opened %s in %d ms (%x)",
                    "settings.dat", 12, 0xbeef);
    debug_output_close(file);
    unlink(path.c_str());
}
BENCHMARK(BM_LineToFileOutput);

#ifdef ZTC_BENCH_HAVE_SPDLOG
// Formats every message with the logger's pattern, as a writing sink does,
// then drops the bytes.
class DiscardSink : public spdlog::sinks::base_sink<std::mutex> {
  protected:
    void sink_it_(const spdlog::details::log_msg &msg) override {
        spdlog::memory_buf_t formatted;
        formatter_->format(msg, formatted);
        benchmark::DoNotOptimize(formatted.data());
    }
    void flush_() override {}
};

// A logger whose lines carry the standard-error line's fields: thread,
// seconds.microseconds, module, level, function, line, message.
spdlog::logger standard_logger(spdlog::sink_ptr sink) {
    spdlog::logger logger("GENERIC", std::move(sink));
    logger.set_pattern("%2t:%9E.%f %11n%L    %32!: %4#:  %v");
    logger.set_level(spdlog::level::info);
    return logger;
}

// The line the debug print benchmarks print.
[[gnu::always_inline]] inline void log_line(spdlog::logger &logger) {
    const spdlog::source_loc where{"base/ztc/bench", 10, "bench_function"};
    logger.log(where, spdlog::level::info, "opened {} in {} ms ({:x})", "settings.dat", 12, 0xbeef);
}

void BM_SpdlogLineToDiscardingSink(benchmark::State &state) {
    spdlog::logger logger = standard_logger(std::make_shared<DiscardSink>());
    for (auto _ : state) log_line(logger);
}
BENCHMARK(BM_SpdlogLineToDiscardingSink);

void BM_SpdlogLineToFile(benchmark::State &state) {
    const std::string path = scratch_file("spdlog.log");
    {
        spdlog::logger logger =
            standard_logger(std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true));
        for (auto _ : state) log_line(logger);
    }
    unlink(path.c_str());
}
BENCHMARK(BM_SpdlogLineToFile);
#endif

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double unwanted = reporter.median("BM_PrintNoOutputWants");
    const double empty = reporter.median("BM_EmptyCallSameArguments");
    if (unwanted > 0 && empty > 0) {
        printf("\nprint no output wants: %.2f ns, an empty call with the same arguments: %.2f ns, "
               "ratio %.2f (target <= 1.30)\n",
               unwanted, empty, unwanted / empty);
        const double walk = reporter.median("BM_BareWalkSameArguments");
        printf("  the least any level walk costs (module test and walk of the one-record list, "
               "nothing else): %.2f ns, ratio %.2f\n",
               walk, walk / empty);
    }
#ifdef ZTC_BENCH_HAVE_SPDLOG
    const double ours = reporter.median("BM_LineToDiscardingOutput");
    const double theirs = reporter.median("BM_SpdlogLineToDiscardingSink");
    if (ours > 0 && theirs > 0) {
        printf("line to a discarding output: %.1f ns, spdlog (synchronous logger, sink applying "
               "the same pattern) %.1f ns, ratio %.2f (target <= 0.50)\n",
               ours, theirs, ours / theirs);
    }
    const double file = reporter.median("BM_LineToFileOutput");
    const double spdlog_file = reporter.median("BM_SpdlogLineToFile");
    if (file > 0 && spdlog_file > 0) {
        printf("line to a file: file output %.1f ns, spdlog basic_file_sink_mt %.1f ns, ratio "
               "%.2f (target <= 1.00)\n",
               file, spdlog_file, file / spdlog_file);
    }
#else
    printf("spdlog is not installed (Debian libspdlog-dev, bench/setup): the comparison with "
           "it is skipped\n");
#endif
    if (!scratch_dir().empty()) rmdir(scratch_dir().c_str());
    benchmark::Shutdown();
    return 0;
}
