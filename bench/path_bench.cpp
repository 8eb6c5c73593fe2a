// UTF-8 conversion of a typical 100-character path, both directions, beside the
// C library's own converters in a UTF-8 locale as the baseline.
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "base/ztc/os/path.h"

namespace {

// 100 characters: mostly ASCII with a few two- and three-byte characters, as a
// home directory and install path of a user with an accented name would be.
const std::wstring kTypicalPath = [] {
    std::wstring p =
        L"/home/m\u00e9lanie.durand/.Tarnwick/Vantle/12/vantle-data/caf\u00e9/r\u00e9sum\u00e9s/"
        L"\u20ac-reports/";
    while (p.size() < 100) p += L'x';
    return p;
}();

const std::string kTypicalUtf8 = [] {
    zt_path_t p;
    zt_path_from_wide(&p, kTypicalPath.c_str());
    char buf[1024];
    return std::string(zt_path_to_utf8(&p, buf, sizeof buf));
}();

void use_utf8_locale() {
    if (setlocale(LC_ALL, "C.UTF-8") == nullptr) setlocale(LC_ALL, "en_US.UTF-8");
}

void BM_PathToUtf8(benchmark::State &state) {
    zt_path_t p;
    zt_path_from_wide(&p, kTypicalPath.c_str());
    char buf[1024];
    for (auto _ : state) {
        benchmark::DoNotOptimize(zt_path_to_utf8(&p, buf, sizeof buf));
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(kTypicalPath.size()) + " chars, " +
                   std::to_string(kTypicalUtf8.size()) + " bytes");
}
BENCHMARK(BM_PathToUtf8);

void BM_LibcWcstombs(benchmark::State &state) {
    use_utf8_locale();
    char buf[1024];
    for (auto _ : state) {
        benchmark::DoNotOptimize(wcstombs(buf, kTypicalPath.c_str(), sizeof buf));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LibcWcstombs);

void BM_PathFromUtf8(benchmark::State &state) {
    zt_path_t p;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zt_path_from_utf8(&p, kTypicalUtf8.c_str()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PathFromUtf8);

void BM_LibcMbstowcs(benchmark::State &state) {
    use_utf8_locale();
    wchar_t buf[ZT_PATH_SLOTS];
    for (auto _ : state) {
        benchmark::DoNotOptimize(mbstowcs(buf, kTypicalUtf8.c_str(), ZT_PATH_SLOTS));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LibcMbstowcs);

} // namespace

BENCHMARK_MAIN();
