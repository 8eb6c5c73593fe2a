// The built tools against a temporary home: what both promise on their command line and
// their standard output, and what vantle-bhint writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/ztc/version.h"
#include "tests/launcher/process_harness.h"
#include "tests/tools/record_bytes.h"

namespace {

namespace fs = std::filesystem;

struct program {
    const char *path;
    const char *name;
};
const program logdump{ZTC_LOGDUMP, "ztc-logdump"};
const program bhint{VANTLE_BHINT, "vantle-bhint"};

class Tools : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = harness::make_temp_dir("vantle_tools_");
        app_ = home_ / ".Tarnwick" / "Vantle";
    }
    void TearDown() override { fs::remove_all(home_); }

    // The tool with HOME set and a record as its standard input.
    harness::SpawnOptions tool(const program &p, std::vector<std::string> args,
                               const fs::path &home = {}) {
        args.insert(args.begin(), p.path);
        return {.argv = args,
                .env = {"HOME=" + (home.empty() ? home_ : home).string()},
                .input = record_bytes::make({}),
                .capture_err = true};
    }
    harness::Outcome run(std::vector<std::string> args, const fs::path &home = {}) {
        return harness::run(tool(bhint, std::move(args), home));
    }

    std::string hint_bytes() { return harness::read_file(app_ / "bhint.dat"); }
    void write_hint(int32_t slot) {
        fs::create_directories(app_);
        std::ofstream(app_ / "bhint.dat", std::ios::binary) << encoded(slot);
    }
    static std::string encoded(int32_t slot) {
        const uint32_t fields[2] = {static_cast<uint32_t>(slot), ~static_cast<uint32_t>(slot)};
        return std::string(reinterpret_cast<const char *>(fields), sizeof fields);
    }

    fs::path home_, app_;
};
using ToolsCli = Tools;
using BootHintTool = Tools;

// One line that names the problem, one that points at --help; status 2, nothing done.
TEST_F(ToolsCli, UsageErrorsAreOneLineAndAPointerToHelp) {
    const struct {
        const program &p;
        std::vector<std::string> args;
        const char *problem;
    } cases[] = {
        {logdump, {"--bogus"}, "'--bogus'"},
        {logdump, {"-x"}, "'-x'"},
        {logdump, {"--level"}, "'--level' needs a value"},
        {logdump, {"-jl"}, "'-l' needs a value"},
        {logdump, {"--json=yes"}, "'--json' takes no value"},
        {logdump, {"--level=loud"}, "level 'loud'"},
        {logdump, {"--module=NOSUCH"}, "module 'NOSUCH'"},
        {logdump, {"--thread=x"}, "thread number 'x'"},
        {logdump, {"--since=2024-02-30"}, "time '2024-02-30'"},
        {logdump, {"--until", "yesterday"}, "time 'yesterday'"},
        {bhint, {}, "missing command"},
        {bhint, {"frobnicate"}, "'frobnicate'"},
        {bhint, {"set"}, "SLOT"},
        {bhint, {"set", "-1"}, "'-1'"},
        {bhint, {"set", "--", "-1"}, "not '-1'"},
        {bhint, {"set", "x1"}, "not 'x1'"},
        {bhint, {"set", "1x"}, "not '1x'"},
        {bhint, {"set", ""}, "not ''"},
        {bhint, {"set", "2147483648"}, "not '2147483648'"},
        {bhint, {"set", "1", "2"}, "one SLOT"},
        {bhint, {"show", "1"}, "no operand"},
        {bhint, {"--force=1", "set", "1"}, "'--force' takes no value"},
    };
    write_hint(3);
    for (const auto &c : cases) {
        const auto r = harness::run(tool(c.p, c.args));
        const std::string what = std::string(c.p.name) + " " + testing::PrintToString(c.args);
        EXPECT_EQ(r.exit_code, 2) << what;
        EXPECT_EQ(r.out, "") << what;
        const auto lines = harness::lines(r.err);
        ASSERT_EQ(lines.size(), 2u) << what << ": " << r.err;
        EXPECT_EQ(lines[0].rfind(std::string(c.p.name) + ": ", 0), 0u) << what;
        EXPECT_NE(lines[0].find(c.problem), std::string::npos) << what << ": " << lines[0];
        EXPECT_EQ(lines[1], "Try '" + std::string(c.p.name) + " --help'.") << what;
    }
    EXPECT_EQ(hint_bytes(), encoded(3));
}

TEST_F(ToolsCli, HelpAndVersionGoToStandardOutput) {
    for (const program &p : {logdump, bhint}) {
        const auto help = harness::run(tool(p, {"--help"}));
        EXPECT_EQ(help.exit_code, 0);
        EXPECT_EQ(help.out.rfind("Usage: " + std::string(p.name) + " ", 0), 0u) << help.out;
        EXPECT_EQ(help.err, "");
        const auto version = harness::run(tool(p, {"--version"}));
        EXPECT_EQ(version.exit_code, 0);
        EXPECT_EQ(version.out, std::string(p.name) + " " + ZTC_VERSION_STRING + "\n");
    }
}

// Output that could not be written is a failure: a message and status 1, or SIGPIPE
// for a reader that went away, as in any pipeline.
TEST_F(ToolsCli, OutputThatCannotBeWrittenFails) {
    using harness::Output;
    const struct {
        const program &p;
        std::vector<std::string> args;
        Output out;
        bool ignore_sigpipe;
        const char *reason; // empty: ended by SIGPIPE
    } cases[] = {
        {logdump, {}, Output::dev_full, false, "No space left on device"},
        {logdump, {"--json"}, Output::closed, false, "Bad file descriptor"},
        {logdump, {}, Output::no_reader, true, "Broken pipe"},
        {logdump, {}, Output::no_reader, false, ""},
        {logdump, {"--version"}, Output::dev_full, false, "No space left on device"},
        {bhint, {"show"}, Output::dev_full, false, "No space left on device"},
        {bhint, {"show"}, Output::closed, false, "Bad file descriptor"},
        {bhint, {"--help"}, Output::closed, false, "Bad file descriptor"},
        {bhint, {"set", "--force", "4"}, Output::dev_full, false, "No space left on device"},
    };
    write_hint(3);
    for (const auto &c : cases) {
        auto options = tool(c.p, c.args);
        options.out = c.out;
        if (c.ignore_sigpipe) options.ignored = {SIGPIPE};
        const auto r = harness::run(options);
        const std::string what = std::string(c.p.name) + " " + testing::PrintToString(c.args) +
                                 " output " + std::to_string(static_cast<int>(c.out));
        if (*c.reason == '\0') {
            EXPECT_EQ(r.term_signal, SIGPIPE) << what;
            continue;
        }
        EXPECT_EQ(r.exit_code, 1) << what;
        EXPECT_EQ(r.err,
                  std::string(c.p.name) + ": cannot write standard output: " + c.reason + "\n")
            << what;
    }
}

// Show fails with the launcher's messages until set writes the 8 bytes that it reads back.
// Set refuses a slot without executable unless forced; a second set renames a new file over
// the old hint (a reader never sees it half written).
TEST_F(BootHintTool, SetWritesWhatShowReads) {
    const auto missing = run({"show"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.out,
              "Failed to open boot hint file for reading (2 No such file or directory)\n");
    EXPECT_EQ(run({"set", "7"}).exit_code, 1);
    EXPECT_FALSE(fs::exists(app_ / "bhint.dat"));
    ASSERT_EQ(run({"set", "--force", "7"}).exit_code, 0);
    EXPECT_EQ(hint_bytes(), encoded(7));

    fs::create_directories(app_ / "12");
    std::ofstream(app_ / "12" / "vantle") << "#!/bin/sh\n";
    struct stat before {
    }, after{};
    ASSERT_EQ(stat((app_ / "bhint.dat").c_str(), &before), 0);
    ASSERT_EQ(run({"set", "12"}).exit_code, 0);
    ASSERT_EQ(stat((app_ / "bhint.dat").c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(hint_bytes(), encoded(12));
    EXPECT_EQ(run({"show"}).out, "12\n");

    std::ofstream(app_ / "bhint.dat", std::ios::binary) << std::string("\x03\0\0\0\0\0\0\0", 8);
    const auto corrupt = run({"show"});
    EXPECT_EQ(corrupt.exit_code, 1);
    EXPECT_EQ(corrupt.out, "Corrupt boot hint file\n");
}

// The launcher leaves out a path component that does not fit 511 characters; the
// tool must not write to such a shortened path (a user's file named Vantle or
// .Tarnwick), nor anywhere else.
TEST_F(BootHintTool, AHomeTooLongForThePathsIsRefusedAndNothingIsWritten) {
    for (const size_t length : {484u, 485u, 494u, 501u, 502u, 504u, 505u, 511u, 600u}) {
        fs::path home = home_;
        for (size_t left = length - home.string().size(); left > 0;) {
            const size_t part = std::min<size_t>(left - 1, 200);
            home /= std::string(part, static_cast<char>('a' + left % 26));
            left -= part + 1;
        }
        ASSERT_EQ(home.string().size(), length);
        fs::create_directories(home);
        std::ofstream(home / "Vantle") << "a user's file";
        auto listing = [&] {
            std::vector<std::string> names;
            for (const auto &e : fs::recursive_directory_iterator(home_))
                names.push_back(e.path().string() + ":" +
                                std::to_string(e.is_regular_file() ? fs::file_size(e) : 0));
            std::sort(names.begin(), names.end());
            return names;
        };
        const auto before = listing();
        const auto set = run({"set", "--force", "1"}, home);
        const auto show = run({"show"}, home);
        if (length == 484) {
            EXPECT_EQ(set.exit_code, 0);
            EXPECT_TRUE(fs::exists(home / ".Tarnwick/Vantle/bhint.dat"));
            EXPECT_EQ(show.out, "1\n");
        } else {
            EXPECT_EQ(set.exit_code, 1) << length;
            EXPECT_EQ(show.exit_code, 1) << length;
            EXPECT_EQ(show.out, "") << length;
            EXPECT_EQ(listing(), before) << length;
        }
        fs::remove_all(home_ / home.lexically_relative(home_).begin()->string());
    }
    // Fewer characters, but more UTF-8 bytes than a file call takes.
    fs::path wide = home_;
    std::string euros;
    for (int i = 0; i < 80; ++i) euros += "\u20ac";
    for (int i = 0; i < 5; ++i) wide /= euros;
    fs::create_directories(wide);
    EXPECT_EQ(run({"set", "--force", "1"}, wide).exit_code, 1);
    EXPECT_FALSE(fs::exists(wide / ".Tarnwick"));
}

// The link stays and its target gets the new hint, with the target's mode and owner;
// a new hint is 0644 less the umask.
TEST_F(BootHintTool, ALinkedHintIsReplacedAtItsTargetKeepingModeAndOwner) {
    const fs::path target = home_ / "elsewhere" / "hint.bin";
    fs::create_directories(target.parent_path());
    fs::create_directories(app_);
    std::ofstream(target, std::ios::binary) << encoded(1);
    ASSERT_EQ(chmod(target.c_str(), 0604), 0);
    const bool chowned = chown(target.c_str(), 4242, 4343) == 0; // as root only
    fs::create_symlink("../../elsewhere/hint.bin", app_ / "bhint.dat");

    ASSERT_EQ(run({"set", "--force", "2"}).exit_code, 0);
    EXPECT_TRUE(fs::is_symlink(app_ / "bhint.dat"));
    EXPECT_EQ(fs::read_symlink(app_ / "bhint.dat"), "../../elsewhere/hint.bin");
    EXPECT_EQ(harness::read_file(target), encoded(2));
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (chowned) {
        EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(4242u, 4343u));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), {}), 1);

    fs::remove_all(app_);
    const mode_t saved = umask(026);
    const auto fresh = run({"set", "--force", "3"});
    umask(saved);
    ASSERT_EQ(fresh.exit_code, 0);
    ASSERT_EQ(stat((app_ / "bhint.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Sets killed at any moment while another set races them leave a whole hint, old or
// new, for readers meanwhile too; the next set leaves no temporary behind: it removes
// those that no running set holds locked, and none that a racing set is writing.
TEST_F(BootHintTool, RacingAndKilledSetsLeaveAWholeHintAndNoTemporary) {
    fs::create_directories(app_);
    const std::string held = "bhint.dat.vantle-bhint-Held01";
    for (const std::string name : {"bhint.dat.vantle-bhint-Ab12Cd", "bhint.dat.backup"})
        std::ofstream(app_ / name) << "x";
    std::ofstream(app_ / held) << "x";
    const int lock = open((app_ / held).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);

    // Kills spread over the time that a whole set takes here.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run({"set", "--force", "1"}).exit_code, 0);
    const auto whole = std::chrono::steady_clock::now() - started;
    const std::vector<std::string> valid = {encoded(1), encoded(2), encoded(3), encoded(4)};
    auto whole_hint = [&] { return std::count(valid.begin(), valid.end(), hint_bytes()) == 1; };
    for (int i = 0; i < 40; ++i) {
        harness::Process killed(tool(bhint, {"set", "--force", std::to_string(i % 3 + 1)}));
        harness::Process racing(tool(bhint, {"set", "--force", "4"}));
        std::this_thread::sleep_for(whole * (i % 10) / 10);
        EXPECT_TRUE(whole_hint()) << i;
        killed.signal(SIGKILL);
        killed.wait();
        EXPECT_EQ(racing.wait().exit_code, 0) << i;
        EXPECT_TRUE(whole_hint()) << i;
    }
    ASSERT_EQ(run({"set", "--force", "9"}).exit_code, 0);
    EXPECT_EQ(hint_bytes(), encoded(9));
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(app_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bhint.dat", "bhint.dat.backup", held}))
        << "a locked temporary belongs to a set still running; other files are the user's";
    close(lock);
    ASSERT_EQ(run({"set", "--force", "8"}).exit_code, 0);
    EXPECT_FALSE(fs::exists(app_ / held));
}

} // namespace
