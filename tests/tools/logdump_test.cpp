// ztc-logdump against the library's own outputs: a binary output's records, dumped,
// read exactly like the standard-error lines of the same prints.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/ztc/debug/debug.h"
#include "tests/launcher/process_harness.h"

namespace {

namespace fs = std::filesystem;

int append(intptr_t user, const void *bytes, size_t len) {
    auto *out = reinterpret_cast<std::string *>(user);
    out->append(static_cast<const char *>(bytes), len);
    return static_cast<int>(len);
}

void fixed_time(struct timeval *tv) {
    tv->tv_sec = 1234;
    tv->tv_usec = 56;
}

class Logdump : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_time_ = debug_get_time_function;
        debug_get_time_function = fixed_time;
        text_ = make_output(DEBUG_OUTPUT_TEXT, &text_bytes_);
        std::strcpy(text_.u.text.format, debug_output_stderr.u.text.format);
        binary_ = make_output(DEBUG_OUTPUT_BINARY, &binary_bytes_);
        file_ = fs::temp_directory_path() / ("logdump_" + std::to_string(getpid()));
    }
    void TearDown() override {
        debug_get_time_function = saved_time_;
        fs::remove(file_);
    }

    static debug_output_t make_output(int type, std::string *sink) {
        debug_output_t o{};
        o.id = type + 5;
        o.type = type;
        for (int &level : o.levels) level = 9;
        if (type == DEBUG_OUTPUT_TEXT) {
            o.u.text.lock = PTHREAD_MUTEX_INITIALIZER;
            o.u.text.write = append;
            o.u.text.user = reinterpret_cast<intptr_t>(sink);
        } else {
            o.u.binary.lock = PTHREAD_MUTEX_INITIALIZER;
            o.u.binary.write = append;
            o.u.binary.user = reinterpret_cast<intptr_t>(sink);
        }
        return o;
    }

    template <typename... Args>
    void print_both(int module, int level, const char *function, int line, const char *fmt,
                    Args... args) {
        for (debug_output_t *o : {&text_, &binary_})
            debug_print(o, module, level, "base/test", line, function, fmt, args...);
    }

    harness::Outcome dump(std::vector<std::string> args, const std::string &bytes) {
        std::ofstream(file_, std::ios::binary) << bytes;
        harness::SpawnOptions o;
        o.argv = {ZTC_LOGDUMP};
        o.argv.insert(o.argv.end(), args.begin(), args.end());
        o.argv.push_back(file_.string());
        harness::Process p(o);
        return p.wait();
    }

    void (*saved_time_)(struct timeval *) = nullptr;
    std::string text_bytes_, binary_bytes_;
    debug_output_t text_{}, binary_{};
    fs::path file_;
};

TEST_F(Logdump, PrintsRecordsAsTheStandardErrorLinesOfTheSamePrints) {
    print_both(49, 1, "zt_vsprintf", 227, "event_error: %s", "lost memory");
    print_both(0, 4, "a_rather_long_function_name_here", 12345, "%d%% of %s", 50, "work");
    print_both(63, 2, "f", -1, "");
    ASSERT_FALSE(binary_bytes_.empty());
    const auto got = dump({}, binary_bytes_);
    EXPECT_EQ(got.exit_code, 0);
    EXPECT_EQ(got.out, text_bytes_);
}

TEST_F(Logdump, JsonLinesCarryEveryFieldEscaped) {
    print_both(1, 3, "fn", 7, "quote \" backslash \\ tab \t bad \xff end");
    const auto got = dump({"--json"}, binary_bytes_);
    EXPECT_EQ(got.exit_code, 0);
    EXPECT_EQ(got.out, "{\"offset\":0,\"thread\":-1,\"seconds\":1234,\"microseconds\":56,"
                       "\"module\":1,\"module_name\":\"BASE\",\"level\":3,\"file\":\"base/test\","
                       "\"function\":\"fn\",\"line\":7,\"text\":\"quote \\\" backslash \\\\ tab "
                       "\\u0009 bad \\ufffd end\"}\n");
}

TEST_F(Logdump, DamageIsReportedWithItsOffsetAndResyncGoesOn) {
    print_both(2, 1, "first", 1, "one");
    const size_t first = binary_bytes_.size();
    print_both(2, 1, "second", 2, "two");
    std::string damaged = binary_bytes_;
    damaged[first + 5] = 9; // the second record's version

    auto plain = dump({}, damaged);
    EXPECT_EQ(plain.exit_code, 1);
    EXPECT_EQ(harness::lines(plain.out).size(), 1u) << "the good first record is still printed";

    std::string stream = "junk" + binary_bytes_.substr(0, first + 10) + binary_bytes_.substr(first);
    auto resync = dump({"--resync"}, stream);
    EXPECT_EQ(resync.exit_code, 1);
    const auto lines = harness::lines(resync.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("first"), std::string::npos);
    EXPECT_NE(lines[1].find("second"), std::string::npos);

    auto cut = dump({}, binary_bytes_.substr(0, binary_bytes_.size() - 3));
    EXPECT_EQ(cut.exit_code, 1);
}

TEST_F(Logdump, UsageErrorsAndUnreadableFiles) {
    harness::SpawnOptions o;
    o.argv = {ZTC_LOGDUMP, "--bogus"};
    EXPECT_EQ(harness::Process(o).wait().exit_code, 2);
    o.argv = {ZTC_LOGDUMP, "/nonexistent/file"};
    EXPECT_EQ(harness::Process(o).wait().exit_code, 2);
    o.argv = {ZTC_LOGDUMP, "--help"};
    const auto help = harness::Process(o).wait();
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("Usage: ztc-logdump"), std::string::npos);
}

} // namespace
