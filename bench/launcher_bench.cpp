// The launcher's restart cycle against a bare fork+exec+wait loop, as a user
// would see them: each side is a whole process that starts the same application
// 300 times (it asks for a restart, 42, until its last start) with its standard
// output going to /dev/null. The two run in interleaved pairs, the order
// alternating from pair to pair, so load that comes and goes on the machine falls
// on both sides alike; each pair gives one ratio of wall times.
//
//   launcher_bench [pairs [launcher]]     (default: 15 pairs, the launcher built here)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kLaunches = 300;

struct Scratch {
    fs::path home;
    std::string app;
    std::string counter;
    std::string counter_env;
    std::string home_env;

    Scratch() {
        char tmpl[] = "/tmp/vantle_bench_XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        home = tmpl;
        const fs::path slot = home / ".Tarnwick" / "Vantle" / "1";
        fs::create_directories(slot);
        app = (slot / "vantle").string();
        fs::copy_file(BENCH_RESTART_APP, app);
        const int fields[2] = {1, ~1};
        std::ofstream(home / ".Tarnwick" / "Vantle" / "bhint.dat", std::ios::binary)
            .write(reinterpret_cast<const char *>(fields), sizeof fields);
        counter = (home / "restarts").string();
        counter_env = "BENCH_RESTARTS_FILE=" + counter;
        home_env = "HOME=" + home.string();
    }
    ~Scratch() { fs::remove_all(home); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    // Launches left; the application counts them down.
    void arm(int launches) const { std::ofstream(counter, std::ios::trunc) << launches << '\n'; }
    int left() const {
        int n = -1;
        std::ifstream(counter) >> n;
        return n;
    }
};

struct Sample {
    double wall_us = 0; // per launch
    double cpu_us = 0;  // per launch: the side's process and everything it waited for
};

double seconds(const timespec &t) {
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}
double seconds(const timeval &t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6;
}

// One whole run of a side: argv with the scratch environment, standard output to
// /dev/null. Returns false when it did not start the application kLaunches times.
bool run(const Scratch &s, std::vector<std::string> args, Sample *sample) {
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char *envp[] = {const_cast<char *>(s.home_env.c_str()),
                    const_cast<char *>(s.counter_env.c_str()), nullptr};
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return false;
    s.arm(kLaunches);
    fflush(stdout);

    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(null, STDOUT_FILENO);
        execve(argv[0], argv.data(), envp);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    const bool waited = pid > 0 && wait4(pid, &status, 0, &usage) == pid;
    clock_gettime(CLOCK_MONOTONIC, &end);
    close(null);

    sample->wall_us = (seconds(end) - seconds(start)) * 1e6 / kLaunches;
    sample->cpu_us = (seconds(usage.ru_utime) + seconds(usage.ru_stime)) * 1e6 / kLaunches;
    return waited && WIFEXITED(status) && WEXITSTATUS(status) == 0 && s.left() == 0;
}

// The value a fraction q of the way through the sorted values (0.5: the median).
double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    const double at = q * static_cast<double>(v.size() - 1);
    const size_t lo = static_cast<size_t>(at);
    const size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}
double median(const std::vector<double> &v) {
    return quantile(v, 0.5);
}

} // namespace

int main(int argc, char **argv) {
    const int pairs = argc > 1 ? atoi(argv[1]) : 15;
    if (pairs < 1) {
        fprintf(stderr, "usage: %s [pairs [launcher]]\n", argv[0]);
        return 2;
    }
    const Scratch s;
    const std::vector<std::string> sides[2] = {{BENCH_BARE_LOOP, s.app},
                                               {argc > 2 ? argv[2] : VANTLE_LAUNCHER}};
    std::vector<double> wall[2], cpu[2], ratios;

    printf("%d launches per run; microseconds per launch\n", kLaunches);
    printf("%-5s %12s %12s %12s %12s %8s\n", "pair", "bare wall", "launcher", "bare cpu",
           "launcher", "ratio");
    for (int p = 0; p < pairs; ++p) {
        Sample got[2];
        for (int k = 0; k < 2; ++k) {
            const int side = (p + k) % 2; // bare first in even pairs, the launcher in odd ones
            if (!run(s, sides[side], &got[side])) {
                fprintf(stderr, "%s did not complete %d launches\n", sides[side][0].c_str(),
                        kLaunches);
                return 1;
            }
        }
        for (int side = 0; side < 2; ++side) {
            wall[side].push_back(got[side].wall_us);
            cpu[side].push_back(got[side].cpu_us);
        }
        ratios.push_back(got[1].wall_us / got[0].wall_us);
        printf("%-5d %12.1f %12.1f %12.1f %12.1f %8.3f\n", p, got[0].wall_us, got[1].wall_us,
               got[0].cpu_us, got[1].cpu_us, ratios.back());
    }
    printf("median %12.1f %12.1f %12.1f %12.1f\n", median(wall[0]), median(wall[1]), median(cpu[0]),
           median(cpu[1]));
    printf("restart cycle / bare loop, wall: median of pairs %.3f (middle half %.3f-%.3f; "
           "target <= 1.0); cpu: %.3f\n",
           median(ratios), quantile(ratios, 0.25), quantile(ratios, 0.75),
           median(cpu[1]) / median(cpu[0]));
    return 0;
}
