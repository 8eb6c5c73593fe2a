// The built vantle-launcher as a real process, against a fixture application
// installed into a temporary home.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <deque>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "process_harness.h"

namespace {

namespace fs = std::filesystem;
using harness::Outcome;
using namespace std::chrono_literals;

struct AppRun {
    int pid = 0;
    std::string sigblk, sigign;
    std::vector<std::string> args; // argv[0] included
    std::vector<std::string> notes;
};

std::string wait_line(const std::string &pid, int status) {
    return "waitpid() returned " + pid + ", pid was " + pid + ", exit status was " +
           std::to_string(status) + "\n";
}

// The output with the pid of each wait line that names the same pid twice read as P.
std::string pids_as_p(const std::string &out) {
    static const std::regex same_pid("returned (\\d+), pid was \\1,");
    return std::regex_replace(out, same_pid, "returned P, pid was P,");
}

std::string waits(std::initializer_list<int> statuses) {
    std::string out;
    for (int status : statuses) out += wait_line("P", status);
    return out;
}

std::string mask_text(std::initializer_list<int> signals) {
    unsigned long long bits = 0;
    for (int sig : signals) bits |= 1ULL << (sig - 1);
    char text[17];
    snprintf(text, sizeof text, "%016llx", bits);
    return text;
}

class LaunchLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = harness::make_temp_dir("vantle_launch_");
        app_ = home_ / ".Tarnwick" / "Vantle";
        fs::create_directories(app_);
        log_ = (home_ / "log").string();
    }
    void TearDown() override { fs::remove_all(home_); }
    void reset() {
        TearDown();
        SetUp();
    }

    std::string exe(int slot) const { return (app_ / std::to_string(slot) / "vantle").string(); }

    void install(int slot, const std::vector<std::string> &plan) {
        fs::create_directories(app_ / std::to_string(slot));
        fs::copy_file(FIXTURE_APP, exe(slot), fs::copy_options::overwrite_existing);
        std::ofstream out(app_ / std::to_string(slot) / "plan");
        for (const auto &line : plan) out << line << '\n';
    }

    void hint(int32_t slot) {
        const uint32_t fields[2] = {static_cast<uint32_t>(slot), ~static_cast<uint32_t>(slot)};
        std::ofstream(app_ / "bhint.dat", std::ios::binary)
            .write(reinterpret_cast<const char *>(fields), sizeof fields);
    }

    harness::SpawnOptions launcher(std::vector<std::string> args = {}, bool pipe = true) {
        args.insert(args.begin(), VANTLE_LAUNCHER);
        return {.argv = args,
                .env = {"HOME=" + home_.string(), "VANTLE_FIXTURE_LOG=" + log_},
                .out = pipe ? harness::Output::pipe : harness::Output::file};
    }

    std::vector<AppRun> runs() const {
        std::vector<AppRun> out;
        for (const auto &line : harness::lines(harness::read_file(log_))) {
            if (line.rfind("run ", 0) == 0) {
                out.emplace_back();
                std::istringstream(line.substr(4)) >> out.back().pid >> out.back().sigblk >>
                    out.back().sigign;
            } else if (out.empty()) {
                continue;
            } else if (line.rfind("arg ", 0) == 0) {
                out.back().args.push_back(line.substr(4));
            } else {
                out.back().notes.push_back(line);
            }
        }
        return out;
    }

    // A fixture run noted a line that starts with prefix.
    bool noted(const std::string &prefix, const std::string &log = "") const {
        return ("\n" + harness::read_file(log.empty() ? log_ : log)).find("\n" + prefix) !=
               std::string::npos;
    }

    // Opens the writing end of a FIFO boot hint once the launcher waits on its
    // reading end, so the launcher is known to sit before it starts its next child.
    int meet_at_fifo() const {
        int fd = -1;
        harness::eventually([&] {
            const auto path = app_ / "bhint.dat";
            if (!fs::is_fifo(path)) return false;
            fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            return fd >= 0;
        });
        return fd;
    }

    fs::path home_, app_;
    std::string log_;
};

// Three runs: slot 1 with the launcher's arguments, slot 1 again, then slot 2
// after the first restart rewrote the hint; each with the launcher's start mask.
TEST_F(LaunchLoop, RestartsRereadTheHintPassArgumentsOnceAndRestoreTheStartSignals) {
    const auto many = [](size_t n) {
        std::vector<std::string> args;
        for (size_t i = 0; i < n; ++i) args.push_back("a" + std::to_string(i));
        return args;
    };
    struct Case {
        std::vector<std::string> args;
        bool pipe;
        std::initializer_list<int> blocked, ignored;
    };
    const Case cases[] = {
        {{"first", "two words"}, true, {}, {}},
        {{"first", "two words"}, false, {SIGUSR1}, {SIGHUP, SIGCHLD, SIGPIPE}}, // restarts go on
        {many(125), true, {SIGINT}, {SIGTERM}},
        {many(126), false, {SIGTERM}, {SIGINT}},
        {many(300), true, {}, {}},
    };
    for (const auto &c : cases) {
        reset();
        install(1, {"exit=42", "hint=2 exit=42"});
        install(2, {"exit=7"});
        hint(1);
        auto options = launcher(c.args, c.pipe);
        options.blocked = c.blocked;
        options.ignored = c.ignored;
        const Outcome got = harness::Process(options).wait();
        EXPECT_EQ(got.exit_code, 0);
        const auto r = runs();
        ASSERT_EQ(r.size(), 3u) << c.args.size();
        std::vector<std::string> first{exe(1)};
        if (c.args.size() <= 125) first.insert(first.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(r[0].args, first) << c.args.size();
        EXPECT_EQ(r[1].args, std::vector<std::string>{exe(1)});
        EXPECT_EQ(r[2].args, std::vector<std::string>{exe(2)});
        const int statuses[] = {42, 42, 7};
        std::string expected;
        for (size_t i = 0; i < r.size(); ++i) {
            expected += wait_line(std::to_string(r[i].pid), statuses[i]);
            EXPECT_EQ(r[i].sigblk, mask_text(c.blocked)) << i;
            EXPECT_EQ(r[i].sigign, mask_text(c.ignored)) << i;
        }
        EXPECT_EQ(got.out, expected);
    }
}

TEST_F(LaunchLoop, AVanishedOutputReaderNeitherEndsTheLauncherNorStopsRestarts) {
    install(1, {"exit=42", "hint=2 exit=42"});
    install(2, {"exit=7"});
    hint(1);
    auto options = launcher();
    options.out = harness::Output::no_reader;
    const Outcome got = harness::run(options);
    EXPECT_EQ(got.term_signal, 0);
    EXPECT_EQ(got.exit_code, 0);
    EXPECT_EQ(runs().size(), 3u);
}

TEST_F(LaunchLoop, TheChildsEndAndTheHintDecideWhatFollows) {
    struct Case {
        const char *what;
        std::string plan;
        std::optional<int32_t> hint;
        int exit_code;
        std::string out;
        std::function<void(const std::string &)> make_slot2 = nullptr; // given its executable
    };
    const std::string no_file =
        "Failed to open boot hint file for reading (2 No such file or directory)\n";
    const Case cases[] = {
        {"own status is not passed on", "exit=3", 1, 0, waits({3})},
        {"killed by a signal", "raise=9", 1, 0, waits({0})},
        {"hint removed before restart", "rmhint exit=42", 1, 1, waits({42}) + no_file},
        {"no boot hint", "exit=0", std::nullopt, 1, no_file},
        {"hinted slot not installed", "exit=0", 4, 1, ""},
        {"exec of a directory", "hint=2 exit=42", 1, 0,
         waits({42}) + "Failed to exec (13 Permission denied)\n" + waits({1}),
         [](const std::string &p) { fs::create_directories(p); }},
        {"exec of an unknown format", "hint=2 exit=42", 1, 0,
         waits({42}) + "Failed to exec (8 Exec format error)\n" + waits({1}),
         [](const std::string &p) {
             std::ofstream(p) << "\x01\x02\x03\x04 not a program";
             chmod(p.c_str(), 0755);
         }},
    };
    for (const auto &c : cases) {
        for (const bool pipe : {true, false}) {
            reset();
            install(1, {c.plan});
            if (c.make_slot2) {
                fs::create_directories(app_ / "2");
                c.make_slot2(exe(2));
            }
            if (c.hint) hint(*c.hint);
            const Outcome got = harness::Process(launcher({}, pipe)).wait();
            EXPECT_EQ(got.exit_code, c.exit_code) << c.what;
            EXPECT_EQ(pids_as_p(got.out), c.out) << c.what << (pipe ? " (pipe)" : " (file)");
        }
    }
}

// A child that cannot be started (the process limit reached) ends the launcher
// with 1 and no message; no application runs.
TEST_F(LaunchLoop, AFailedStartPrintsNothingAndEndsWithOne) {
    install(1, {"exit=42"});
    hint(1);
    auto options = launcher();
    options.env.push_back(std::string("LD_PRELOAD=") + SPAWN_FAILS);
    // The preloaded library stands before the sanitizer's runtime.
    options.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    const Outcome got = harness::Process(options).wait();
    EXPECT_EQ(got.exit_code, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_TRUE(runs().empty());
}

TEST_F(LaunchLoop, SignalsEndTheLauncherOnlyWhenNoChildRuns) {
    struct Case {
        const char *what;
        std::string plan;
        bool fifo_at_start; // the launcher waits on a FIFO boot hint before its first child
        bool child_gets_it;
        std::string out;
        bool started_blocked = false; // an inherited block must not swallow the signal
    };
    const Case cases[] = {
        {"before the first child", "exit=0", true, false, ""},
        {"while a child runs", "wait", false, true, waits({0})},
        {"between children", "fifohint exit=42", false, false, waits({42})},
        {"before the first child, blocked at start", "exit=0", true, false, "", true},
        {"between children, blocked at start", "fifohint exit=42", false, false, waits({42}), true},
    };
    for (const int sig : {SIGTERM, SIGINT}) {
        for (const auto &c : cases) {
            reset();
            install(1, {c.plan});
            c.fifo_at_start ? void(mkfifo((app_ / "bhint.dat").c_str(), 0644)) : hint(1);
            auto options = launcher();
            if (c.started_blocked) options.blocked = {sig};
            harness::Process process(options);
            int fd = -1;
            if (c.child_gets_it) {
                ASSERT_TRUE(harness::eventually([&] { return noted("waiting"); })) << c.what;
            } else {
                ASSERT_GE(fd = meet_at_fifo(), 0) << c.what;
            }
            process.signal(sig);
            if (fd >= 0) close(fd); // the signal is handled before the read could see the end
            const Outcome got = process.wait();
            EXPECT_EQ(got.exit_code, c.child_gets_it ? 0 : sig) << c.what;
            EXPECT_EQ(noted("signal " + std::to_string(sig)), c.child_gets_it) << c.what;
            EXPECT_EQ(pids_as_p(got.out), c.out) << c.what;
        }
    }
}

using LauncherSoak = LaunchLoop;

TEST_F(LauncherSoak, TwoThousandRestartsGrowNeitherDescriptorsNorMemoryNorZombies) {
    constexpr size_t kRuns = 2000, kFirstSample = 50;
    std::vector<std::string> plan(kRuns, "exit=42");
    plan[kFirstSample] = "sample exit=42";
    plan.back() = "sample";
    install(1, plan);
    hint(1);
    const Outcome got = harness::Process(launcher({}, false)).wait(180s);
    ASSERT_FALSE(got.timed_out);
    EXPECT_EQ(got.exit_code, 0);
    EXPECT_EQ(harness::lines(got.out).size(), kRuns);
    const auto r = runs();
    ASSERT_EQ(r.size(), kRuns);
    int fds[2] = {-1, -1};
    long rss_kb[2] = {-1, -1};
    for (const size_t i : {0, 1}) {
        const AppRun &run = i == 0 ? r[kFirstSample] : r.back();
        ASSERT_EQ(run.notes.size(), 1u);
        std::istringstream sample(run.notes[0]);
        std::string word, children;
        std::getline(sample >> word >> fds[i] >> rss_kb[i] >> std::ws, children);
        EXPECT_EQ(children, std::to_string(run.pid)) << "the launcher holds an unreaped child";
    }
    EXPECT_GT(fds[0], 0);
    EXPECT_EQ(fds[1], fds[0]) << "descriptors leak across restarts";
    // A sanitizer's own bookkeeping grows the resident set; its leak check at the
    // launcher's exit (status 0 above) stands in for this one there.
    if (!UNDER_SANITIZER) {
        EXPECT_LT(rss_kb[1] - rss_kb[0], 256) << "resident memory grew, in kB";
    }
}

TEST_F(LauncherSoak, SignalStormReachesOnlyTheOwnChildAndEndsOrderly) {
    // Unrelated processes that a stale child id could name; they note what reaches them.
    const std::string decoy_log = (home_ / "decoys").string();
    install(9, {"wait"});
    const harness::SpawnOptions decoy{.argv = {exe(9)}, .env = {"VANTLE_FIXTURE_LOG=" + decoy_log}};
    std::deque<harness::Process> decoys;
    for (int i = 0; i < 8; ++i) decoys.emplace_back(decoy);
    ASSERT_TRUE(harness::eventually([&] {
        const auto l = harness::lines(harness::read_file(decoy_log));
        return std::count(l.begin(), l.end(), "waiting") == 8;
    }));
    std::vector<std::string> plan(300, "linger exit=42");
    plan.back() = "linger";
    install(1, plan);
    hint(1);

    // A signal that lands between two children ends the launcher (status 15 or 2),
    // so rounds are repeated until signals have also been passed on to children.
    int rounds = 0, sent = 0;
    for (; rounds < 10 || (rounds < 40 && !noted("signal")); ++rounds) {
        fs::remove(app_ / "1" / "runs");
        harness::Process p(launcher({}, false));
        // Before the first child a signal simply ends the launcher.
        ASSERT_TRUE(harness::eventually([&] { return fs::exists(app_ / "1" / "runs"); }));
        siginfo_t info{};
        for (auto until = std::chrono::steady_clock::now() + 20s;
             info.si_pid == 0 && std::chrono::steady_clock::now() < until; ++sent) {
            p.signal(sent % 2 ? SIGINT : SIGTERM);
            std::this_thread::sleep_for(300us);
            waitid(P_PID, static_cast<id_t>(p.pid()), &info, WEXITED | WNOHANG | WNOWAIT);
        }
        const auto got = p.wait(60s);
        ASSERT_FALSE(got.timed_out);
        EXPECT_TRUE(got.exit_code == 0 || got.exit_code == 15 || got.exit_code == 2)
            << "exit status " << got.exit_code << ", signal " << got.term_signal;
    }
    EXPECT_GT(sent, 0);
    EXPECT_TRUE(noted("signal")) << "no signal was passed on to a child in " << rounds << " rounds";
    EXPECT_FALSE(noted("signal", decoy_log));
}

} // namespace
