// The built vantle-launcher as a real process, against a fixture application
// installed into a temporary home.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "process_harness.h"

namespace {

namespace fs = std::filesystem;
using harness::Outcome;

struct AppRun {
    int pid = 0;
    std::string slot;
    std::vector<std::string> args; // argv[0] included
    std::string sigblk, sigign;
    std::vector<std::string> notes;
};

enum class Output { Pipe, File };

std::string wait_line(int pid, int status) {
    return "waitpid() returned " + std::to_string(pid) + ", pid was " + std::to_string(pid) +
           ", exit status was " + std::to_string(status);
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
        char tmpl[] = "/tmp/vantle_launch_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        app_ = home_ / ".Tarnwick" / "Vantle";
        fs::create_directories(app_);
        log_ = (home_ / "log").string();
    }
    void TearDown() override { fs::remove_all(home_); }

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

    harness::SpawnOptions launcher(std::vector<std::string> args = {},
                                   Output output = Output::Pipe) {
        harness::SpawnOptions options;
        options.argv = {VANTLE_LAUNCHER};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.env = {"HOME=" + home_.string(), "VANTLE_FIXTURE_LOG=" + log_,
                       "PATH=/usr/bin:/bin"};
        if (output == Output::File) options.stdout_file = (home_ / "stdout").string();
        return options;
    }

    Outcome launch(std::vector<std::string> args = {}, Output output = Output::Pipe) {
        harness::Process process(launcher(std::move(args), output));
        return process.wait();
    }

    std::vector<AppRun> runs() const {
        std::vector<AppRun> out;
        for (const auto &line : harness::lines(harness::read_file(log_))) {
            const auto space = line.find(' ');
            const std::string key = line.substr(0, space);
            const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
            if (key == "run") {
                AppRun run;
                run.pid = std::stoi(value);
                run.slot = value.substr(value.find(' ') + 1);
                out.push_back(run);
            } else if (out.empty()) {
                continue;
            } else if (key == "arg") {
                out.back().args.push_back(value);
            } else if (key == "sigblk") {
                out.back().sigblk = value;
            } else if (key == "sigign") {
                out.back().sigign = value;
            } else if (key != "argc") {
                out.back().notes.push_back(line);
            }
        }
        return out;
    }

    bool noted(const std::string &note) const {
        for (const auto &run : runs()) {
            for (const auto &n : run.notes) {
                if (n == note) return true;
            }
        }
        return false;
    }

    // Opens the writing end of a FIFO boot hint once the launcher waits on its
    // reading end, so the launcher is known to sit before its next fork.
    int meet_at_fifo() const {
        int fd = -1;
        harness::eventually([&] {
            struct stat st;
            const auto path = app_ / "bhint.dat";
            if (stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return false;
            fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            return fd >= 0;
        });
        return fd;
    }

    fs::path home_, app_;
    std::string log_;
};

TEST_F(LaunchLoop, RestartsRereadTheHintAndPrintExactLinesToPipeAndFile) {
    for (const Output output : {Output::Pipe, Output::File}) {
        TearDown();
        SetUp();
        install(1, {"exit=42", "hint=2 exit=42"});
        install(2, {"exit=7"});
        hint(1);
        const Outcome got = launch({"first", "two words"}, output);
        ASSERT_FALSE(got.timed_out);
        EXPECT_EQ(got.exit_code, 0);
        const auto r = runs();
        ASSERT_EQ(r.size(), 3u);
        EXPECT_EQ(r[0].args, (std::vector<std::string>{exe(1), "first", "two words"}));
        EXPECT_EQ(r[1].args, (std::vector<std::string>{exe(1)}));
        EXPECT_EQ(r[2].args, (std::vector<std::string>{exe(2)}));
        EXPECT_EQ(got.out, wait_line(r[0].pid, 42) + "\n" + wait_line(r[1].pid, 42) + "\n" +
                               wait_line(r[2].pid, 7) + "\n");
    }
}

TEST_F(LaunchLoop, ArgumentsArePassedOnOnlyUpToArgc126) {
    struct Case {
        size_t extra;
        size_t forwarded;
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{125, 125}, Case{126, 0}, Case{300, 0}}) {
        TearDown();
        SetUp();
        install(1, {"exit=0"});
        hint(1);
        std::vector<std::string> args;
        for (size_t i = 0; i < c.extra; ++i) args.push_back("a" + std::to_string(i));
        const Outcome got = launch(args);
        EXPECT_EQ(got.exit_code, 0) << c.extra;
        const auto r = runs();
        ASSERT_EQ(r.size(), 1u) << c.extra;
        std::vector<std::string> expected{exe(1)};
        expected.insert(expected.end(), args.begin(), args.begin() + c.forwarded);
        EXPECT_EQ(r[0].args, expected) << c.extra;
    }
}

TEST_F(LaunchLoop, HowTheChildEndsDecidesWhatFollows) {
    struct Case {
        const char *what;
        std::string plan;
        int exit_code;
        int wait_status;
        std::string after; // printed after the wait line
    };
    const Case cases[] = {
        {"own status is not passed on", "exit=3", 0, 3, ""},
        {"killed by a signal", "raise=9", 0, 0, ""},
        {"hint removed before restart", "rmhint exit=42", 1, 42,
         "Failed to open boot hint file for reading (2 No such file or directory)\n"},
        {"hint corrupted before restart", "corrupt exit=42", 1, 42, "Corrupt boot hint file\n"},
        {"restart into a slot that is not installed", "hint=9 exit=42", 1, 42, ""},
    };
    for (const auto &c : cases) {
        TearDown();
        SetUp();
        install(1, {c.plan});
        hint(1);
        const Outcome got = launch();
        EXPECT_EQ(got.exit_code, c.exit_code) << c.what;
        const auto r = runs();
        ASSERT_EQ(r.size(), 1u) << c.what;
        EXPECT_EQ(got.out, wait_line(r[0].pid, c.wait_status) + "\n" + c.after) << c.what;
    }
}

TEST_F(LaunchLoop, NothingToStartEndsWithStatusOne) {
    const Outcome got = launch();
    EXPECT_EQ(got.exit_code, 1);
    EXPECT_EQ(got.out, "Failed to open boot hint file for reading (2 No such file or directory)\n");
    hint(4);
    const Outcome absent = launch();
    EXPECT_EQ(absent.exit_code, 1);
    EXPECT_EQ(absent.out, "");
}

TEST_F(LaunchLoop, ExecFailureIsReportedOnceAfterARestart) {
    struct Case {
        const char *what;
        std::function<void(const std::string &)> make;
        std::string message;
    };
    const Case cases[] = {
        {"directory", [](const std::string &p) { fs::create_directories(p); },
         "Failed to exec (13 Permission denied)"},
        {"not executable",
         [](const std::string &p) {
             std::ofstream(p) << "data";
             chmod(p.c_str(), 0644);
         },
         "Failed to exec (13 Permission denied)"},
        {"no known format",
         [](const std::string &p) {
             std::ofstream(p) << "\x01\x02\x03\x04 not a program";
             chmod(p.c_str(), 0755);
         },
         "Failed to exec (8 Exec format error)"},
    };
    for (const auto &c : cases) {
        for (const Output output : {Output::Pipe, Output::File}) {
            TearDown();
            SetUp();
            install(1, {"hint=2 exit=42"});
            fs::create_directories(app_ / "2");
            c.make(exe(2));
            hint(1);
            const Outcome got = launch({}, output);
            EXPECT_EQ(got.exit_code, 0) << c.what;
            const auto r = runs();
            ASSERT_EQ(r.size(), 1u) << c.what;
            const auto out = harness::lines(got.out);
            ASSERT_EQ(out.size(), 3u) << c.what << "\n" << got.out;
            EXPECT_EQ(out[0], wait_line(r[0].pid, 42)) << c.what;
            EXPECT_EQ(out[1], c.message) << c.what;
            int result = 0, pid = 0, status = -1;
            ASSERT_EQ(sscanf(out[2].c_str(),
                             "waitpid() returned %d, pid was %d, exit status was %d", &result, &pid,
                             &status),
                      3)
                << out[2];
            EXPECT_EQ(result, pid);
            EXPECT_EQ(status, 1) << c.what;
        }
    }
}

TEST_F(LaunchLoop, SignalsEndTheLauncherOnlyWhenNoChildRuns) {
    for (const int sig : {SIGTERM, SIGINT}) {
        // Before the first child: the launcher waits on a FIFO boot hint.
        TearDown();
        SetUp();
        install(1, {"exit=0"});
        mkfifo((app_ / "bhint.dat").c_str(), 0644);
        {
            harness::Process process(launcher());
            const int fd = meet_at_fifo();
            ASSERT_GE(fd, 0);
            process.signal(sig);
            close(fd); // the signal is handled before the read could see the end
            const Outcome got = process.wait();
            EXPECT_EQ(got.exit_code, sig) << "before the first child";
            EXPECT_EQ(got.out, "");
            EXPECT_TRUE(runs().empty());
        }

        // While a child runs: the child receives it, the launcher outlives it.
        TearDown();
        SetUp();
        install(1, {"wait"});
        hint(1);
        {
            harness::Process process(launcher());
            ASSERT_TRUE(harness::eventually([&] { return noted("waiting"); }));
            process.signal(sig);
            const Outcome got = process.wait();
            EXPECT_EQ(got.exit_code, 0) << "while a child runs";
            EXPECT_TRUE(noted("signal " + std::to_string(sig)));
            const auto r = runs();
            ASSERT_EQ(r.size(), 1u);
            EXPECT_EQ(got.out, wait_line(r[0].pid, 0) + "\n");
        }

        // Between children: the ended child is not signalled, the launcher ends.
        TearDown();
        SetUp();
        install(1, {"fifohint exit=42"});
        hint(1);
        {
            harness::Process process(launcher());
            const int fd = meet_at_fifo();
            ASSERT_GE(fd, 0);
            process.signal(sig);
            close(fd); // the signal is handled before the read could see the end
            const Outcome got = process.wait();
            EXPECT_EQ(got.exit_code, sig) << "between children";
            const auto r = runs();
            ASSERT_EQ(r.size(), 1u);
            EXPECT_EQ(got.out, wait_line(r[0].pid, 42) + "\n");
        }
    }
}

TEST_F(LaunchLoop, ApplicationStartsWithTheLaunchersMaskAndIgnoredSignals) {
    struct Case {
        std::initializer_list<int> blocked;
        std::initializer_list<int> ignored;
    };
    const Case cases[] = {
        {{}, {}},
        {{SIGUSR1}, {SIGHUP, SIGCHLD}},
        {{SIGTERM, SIGUSR2}, {SIGINT, SIGPIPE}},
        {{SIGINT}, {SIGTERM}},
    };
    for (const auto &c : cases) {
        TearDown();
        SetUp();
        install(1, {"hint=1 exit=42", "exit=0"});
        hint(1);
        auto options = launcher({"x"});
        options.blocked = c.blocked;
        options.ignored = c.ignored;
        harness::Process process(options);
        const Outcome got = process.wait();
        EXPECT_EQ(got.exit_code, 0);
        const auto r = runs();
        ASSERT_EQ(r.size(), 2u);
        for (const auto &run : r) {
            EXPECT_EQ(run.sigblk, mask_text(c.blocked));
            EXPECT_EQ(run.sigign, mask_text(c.ignored));
        }
    }
}

} // namespace
