// What both tools promise on their command line and their standard output.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
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

class ToolsCli : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = harness::make_temp_dir("tools_cli_");
        fs::create_directories(home_ / ".Tarnwick" / "Vantle");
        const std::string hint("\x03\0\0\0\xfc\xff\xff\xff", 8);
        std::ofstream(home_ / ".Tarnwick" / "Vantle" / "bhint.dat", std::ios::binary) << hint;
    }
    void TearDown() override { fs::remove_all(home_); }

    harness::Outcome run(const program &p, const std::vector<std::string> &args,
                         harness::Output out = harness::Output::file, bool ignore_sigpipe = false) {
        harness::SpawnOptions s{.argv = {p.path},
                                .env = {"HOME=" + home_.string()},
                                .out = out,
                                .input = record_bytes::make({}),
                                .capture_err = true};
        s.argv.insert(s.argv.end(), args.begin(), args.end());
        if (ignore_sigpipe) s.ignored = {SIGPIPE};
        return harness::run(s);
    }

    fs::path home_;
};

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
    const std::string hint = harness::read_file(home_ / ".Tarnwick/Vantle/bhint.dat");
    for (const auto &c : cases) {
        const auto r = run(c.p, c.args);
        const std::string what = std::string(c.p.name) + " " + testing::PrintToString(c.args);
        EXPECT_EQ(r.exit_code, 2) << what;
        EXPECT_EQ(r.out, "") << what;
        const auto lines = harness::lines(r.err);
        ASSERT_EQ(lines.size(), 2u) << what << ": " << r.err;
        EXPECT_EQ(lines[0].rfind(std::string(c.p.name) + ": ", 0), 0u) << what;
        EXPECT_NE(lines[0].find(c.problem), std::string::npos) << what << ": " << lines[0];
        EXPECT_EQ(lines[1], "Try '" + std::string(c.p.name) + " --help'.") << what;
    }
    EXPECT_EQ(harness::read_file(home_ / ".Tarnwick/Vantle/bhint.dat"), hint);
}

TEST_F(ToolsCli, HelpAndVersionGoToStandardOutput) {
    for (const program &p : {logdump, bhint}) {
        const auto help = run(p, {"--help"});
        EXPECT_EQ(help.exit_code, 0);
        EXPECT_EQ(help.out.rfind("Usage: " + std::string(p.name) + " ", 0), 0u) << help.out;
        EXPECT_EQ(help.err, "");
        const auto version = run(p, {"--version"});
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
    for (const auto &c : cases) {
        const auto r = run(c.p, c.args, c.out, c.ignore_sigpipe);
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

} // namespace
