// The launcher's restart cycle: vantle-launcher running an application that asks
// for a restart N times, beside a bare fork+exec+wait loop of the same application.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kLaunches = 50;

struct Scratch {
    fs::path home;
    fs::path app;
    std::string counter;
    std::string counter_env;
    std::string home_env;

    Scratch() {
        char tmpl[] = "/tmp/vantle_bench_XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        home = tmpl;
        const fs::path slot = home / ".Tarnwick" / "Vantle" / "1";
        fs::create_directories(slot);
        app = slot / "vantle";
        fs::copy_file(BENCH_RESTART_APP, app);
        const int fields[2] = {1, ~1};
        std::ofstream(home / ".Tarnwick" / "Vantle" / "bhint.dat", std::ios::binary)
            .write(reinterpret_cast<const char *>(fields), sizeof fields);
        counter = (home / "restarts").string();
        counter_env = "BENCH_RESTARTS_FILE=" + counter;
        home_env = "HOME=" + home.string();
    }
    ~Scratch() { fs::remove_all(home); }

    void arm(int launches) const { std::ofstream(counter, std::ios::trunc) << launches << '\n'; }
};

// Starts path with the scratch environment and standard output discarded; returns
// the raw wait status.
int run(const Scratch &s, const std::string &path) {
    char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
    char *envp[] = {const_cast<char *>(s.home_env.c_str()),
                    const_cast<char *>(s.counter_env.c_str()), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execve(path.c_str(), argv, envp);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

void per_launch(benchmark::State &state) {
    state.counters["per_launch"] = benchmark::Counter(
        kLaunches, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_BareForkExecWait(benchmark::State &state) {
    const Scratch s;
    const std::string app = s.app.string();
    for (auto _ : state) {
        s.arm(kLaunches);
        int launches = 0;
        int status;
        do {
            status = run(s, app);
            ++launches;
        } while (WIFEXITED(status) && WEXITSTATUS(status) == 42);
        if (launches != kLaunches) state.SkipWithError("application ended early");
    }
    per_launch(state);
}
BENCHMARK(BM_BareForkExecWait)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LauncherRestartCycle(benchmark::State &state) {
    const Scratch s;
    for (auto _ : state) {
        s.arm(kLaunches);
        const int status = run(s, VANTLE_LAUNCHER);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("launcher failed");
    }
    per_launch(state);
}
BENCHMARK(BM_LauncherRestartCycle)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
