// The built ztc-logdump against the library's own outputs and against records built
// byte by byte: files, a live pipe, a followed file that is rotated.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/ztc/debug/debug.h"
#include "tests/launcher/process_harness.h"
#include "tests/tools/record_bytes.h"
#include "tests/tools/tool_run.h"

namespace {

namespace fs = std::filesystem;
using record_bytes::fields;

int append(intptr_t user, const void *bytes, size_t len) {
    auto *out = reinterpret_cast<std::string *>(user);
    out->append(static_cast<const char *>(bytes), len);
    return static_cast<int>(len);
}

void fixed_time(struct timeval *tv) {
    tv->tv_sec = 1234;
    tv->tv_usec = 56;
}

void write_file(const fs::path &path, const std::string &bytes, bool append = false) {
    std::ofstream(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << bytes;
}

class Logdump : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_time_ = debug_get_time_function;
        debug_get_time_function = fixed_time;
        text_ = make_output(DEBUG_OUTPUT_TEXT, &text_bytes_);
        std::strcpy(text_.u.text.format, debug_output_stderr.u.text.format);
        binary_ = make_output(DEBUG_OUTPUT_BINARY, &binary_bytes_);
        dir_ = harness::make_temp_dir("logdump_");
        file_ = dir_ / "log.bin";
    }
    void TearDown() override {
        debug_get_time_function = saved_time_;
        fs::remove_all(dir_);
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

    // The tool over bytes in a file, the file named last.
    toolrun::result dump(std::vector<std::string> args, const std::string &bytes) {
        write_file(file_, bytes);
        toolrun::request s;
        s.argv = {ZTC_LOGDUMP};
        s.argv.insert(s.argv.end(), args.begin(), args.end());
        s.argv.push_back(file_.string());
        return toolrun::run(s);
    }

    void (*saved_time_)(struct timeval *) = nullptr;
    std::string text_bytes_, binary_bytes_;
    debug_output_t text_{}, binary_{};
    fs::path dir_, file_;
};

TEST_F(Logdump, PrintsRecordsAsTheStandardErrorLinesOfTheSamePrints) {
    print_both(49, 1, "zt_vsprintf", 227, "event_error: %s", "lost memory");
    print_both(0, 4, "a_rather_long_function_name_here", 12345, "%d%% of %s", 50, "work");
    print_both(63, 2, "f", -1, "");
    ASSERT_FALSE(binary_bytes_.empty());
    const auto got = dump({}, binary_bytes_);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, text_bytes_);
}

TEST_F(Logdump, JsonLinesCarryEveryFieldEscapedAndTheirSource) {
    print_both(1, 3, "fn", 7, "quote \" backslash \\ tab \t bad \xff end");
    const std::string line = "{\"offset\":0,\"thread\":-1,\"seconds\":1234,\"microseconds\":56,"
                             "\"module\":1,\"module_name\":\"BASE\",\"level\":3,\"level_name\":"
                             "\"info\",\"file\":\"base/test\",\"function\":\"fn\",\"line\":7,"
                             "\"text\":\"quote \\\" backslash \\\\ tab \\u0009 bad \\ufffd end\"";
    const auto one = dump({"--json"}, binary_bytes_);
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, line + "}\n");

    // With several inputs each line names its own; other levels show their number.
    write_file(dir_ / "other.bin", record_bytes::make({.level = 7, .module = 64}));
    const auto two = dump({"--json", (dir_ / "other.bin").string()}, binary_bytes_);
    const auto lines = harness::lines(two.out);
    ASSERT_EQ(lines.size(), 2u) << two.out;
    EXPECT_NE(lines[0].find("\"level\":7,\"level_name\":\"7\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"module\":64,\"module_name\":\"64\""), std::string::npos);
    EXPECT_NE(lines[0].find(",\"source\":\"" + (dir_ / "other.bin").string() + "\"}"),
              std::string::npos);
    EXPECT_EQ(lines[1], line + ",\"source\":\"" + file_.string() + "\"}");
}

TEST_F(Logdump, DamageIsReportedWithItsOffsetAndResyncGoesOn) {
    print_both(2, 1, "first", 1, "one");
    const size_t first = binary_bytes_.size();
    print_both(2, 1, "second", 2, "two");
    std::string damaged = binary_bytes_;
    damaged[first + 5] = 9; // the second record's version

    auto plain = dump({}, damaged);
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(harness::lines(plain.out).size(), 1u) << "the good first record is still printed";
    EXPECT_EQ(plain.err, "ztc-logdump: " + file_.string() +
                             ": unknown format version at byte "
                             "offset " +
                             std::to_string(first + 4) + " (record at " + std::to_string(first) +
                             ")\n");

    std::string stream = "junk" + binary_bytes_.substr(0, first + 10) + binary_bytes_.substr(first);
    auto resync = dump({"--resync"}, stream);
    EXPECT_EQ(resync.status, 1);
    const auto lines = harness::lines(resync.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("first"), std::string::npos);
    EXPECT_NE(lines[1].find("second"), std::string::npos);
    EXPECT_EQ(harness::lines(resync.err).size(), 2u) << resync.err;

    auto cut = dump({}, binary_bytes_.substr(0, binary_bytes_.size() - 3));
    EXPECT_EQ(cut.status, 1);
}

// A record's texts cannot break its line or reach the terminal as control codes,
// unless --raw asks for the bytes.
TEST_F(Logdump, TextModeEscapesControlCharacters) {
    const std::string text = "a\nb\tc\r\x1b[2Jd\x7f e\xc2\x9b f\xff g\xc3\xa9";
    const std::string escaped = "a\\nb\\tc\\r\\x1b[2Jd\\x7f e\\xc2\\x9b f\\xff g\xc3\xa9";
    const std::string bytes = record_bytes::make({.function = "fn\n", .text = text});

    const auto shown = dump({}, bytes);
    EXPECT_EQ(shown.status, 0);
    ASSERT_EQ(harness::lines(shown.out).size(), 1u) << shown.out;
    EXPECT_NE(shown.out.find("fn\\n:  227:  " + escaped + "\n"), std::string::npos) << shown.out;

    const auto raw = dump({"--raw"}, bytes);
    EXPECT_NE(raw.out.find("fn\n:  227:  " + text + "\n"), std::string::npos) << raw.out;
}

TEST_F(Logdump, FiltersSelectRecords) {
    const int64_t noon = 1714564800; // 2024-05-01T12:00:00Z
    const fields records[] = {
        {.thread = -1, .level = 1, .seconds = 100, .microseconds = 0, .module = 1, .text = "r0"},
        {.thread = 5,
         .level = 2,
         .seconds = 100,
         .microseconds = 500000,
         .module = 2,
         .text = "r1"},
        {.thread = 5, .level = 4, .seconds = 200, .microseconds = 0, .module = 1, .text = "r2"},
        {.thread = 7, .level = 9, .seconds = noon, .microseconds = 0, .module = 49, .text = "r3"},
        {.thread = 7,
         .level = 3,
         .seconds = noon + 3600,
         .microseconds = 0,
         .module = 2,
         .text = "r4"},
    };
    std::string bytes;
    for (const auto &r : records) bytes += record_bytes::make(r);

    const struct {
        std::vector<std::string> args;
        std::string expect;
    } cases[] = {
        {{}, "r0 r1 r2 r3 r4"},
        {{"--level=2"}, "r0 r1"},
        {{"--level=debug"}, "r0 r1 r2 r4"},
        {{"--module=io"}, "r1 r4"},
        {{"--module=2", "--module=BASE"}, "r0 r1 r2 r4"},
        {{"--thread=5"}, "r1 r2"},
        {{"--thread=-1", "-t", "7"}, "r0 r3 r4"},
        {{"--since=100.5"}, "r1 r2 r3 r4"},
        {{"--until=100.5"}, "r0 r1"},
        {{"--since=100.500001", "--until=200"}, "r2"},
        {{"--since=2024-05-01T12:00:00Z", "--until=2024-05-01 12:30"}, "r3"},
        {{"--since=2024-05-01T12:00:00.000001"}, "r4"},
        {{"--level=3", "--thread=7"}, "r4"},
        {{"--level=3", "--module=TAG"}, ""},
    };
    for (const auto &c : cases) {
        const auto got = dump(c.args, bytes);
        std::string ids;
        for (const auto &line : harness::lines(got.out))
            ids += (ids.empty() ? "" : " ") + line.substr(line.size() - 2);
        EXPECT_EQ(got.status, 0) << testing::PrintToString(c.args);
        EXPECT_EQ(ids, c.expect) << testing::PrintToString(c.args);
    }
}

// Each spelling of an option means the same; "--" makes the next word a file name.
TEST_F(Logdump, OptionSpellingsAgree) {
    const std::string bytes = record_bytes::make({.level = 1, .text = "kept"}) +
                              record_bytes::make({.level = 3, .text = "dropped"});
    const auto expect = dump({"--json", "--level=2"}, bytes);
    ASSERT_EQ(harness::lines(expect.out).size(), 1u) << expect.out;
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"--json", "--level", "2"},
                                               {"-j", "-l2"},
                                               {"-jl", "2"},
                                               {"-jl2"},
                                               {"--lev=2", "-j"}}) {
        EXPECT_EQ(dump(args, bytes).out, expect.out) << testing::PrintToString(args);
    }
    write_file(dir_ / "-j", bytes);
    toolrun::request s;
    s.argv = {ZTC_LOGDUMP, "--", "-j"};
    s.cwd = dir_.string();
    const auto named = toolrun::run(s);
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(harness::lines(named.out).size(), 2u) << "-j read as a file, in text mode";
}

// Records reach the reader while the pipe is still open, a part record waits for its rest.
TEST_F(Logdump, StreamsAPipeAsRecordsArrive) {
    toolrun::live p({ZTC_LOGDUMP});
    p.feed(record_bytes::make({.text = "first"}));
    auto got = p.lines(1);
    ASSERT_EQ(got.size(), 1u) << "nothing printed before the input ended";
    EXPECT_NE(got[0].find("first"), std::string::npos);

    const std::string second = record_bytes::make({.text = "second"});
    p.feed(second.substr(0, 30));
    EXPECT_EQ(p.lines(2, std::chrono::milliseconds(200)).size(), 1u);
    p.feed(second.substr(30));
    got = p.lines(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[1].find("second"), std::string::npos);

    p.close_input();
    const auto end = p.wait();
    EXPECT_EQ(end.status, 0) << end.err;
}

// Like tail -F: waits at the end, finishes a file rotated away, then reads the new
// file at the name from its start.
TEST_F(Logdump, FollowsAFileAcrossARotation) {
    write_file(file_, record_bytes::make({.text = "r0"}));
    toolrun::live p({ZTC_LOGDUMP, "--follow", file_.string()});
    ASSERT_EQ(p.lines(1).size(), 1u);
    write_file(file_, record_bytes::make({.text = "r1"}), true);
    ASSERT_EQ(p.lines(2).size(), 2u) << "waits for more at the end of the file";

    fs::rename(file_, dir_ / "log.bin.1");
    write_file(dir_ / "log.bin.1", record_bytes::make({.text = "r2"}), true);
    write_file(file_, record_bytes::make({.text = "r3"}));
    const auto got = p.lines(4);
    ASSERT_EQ(got.size(), 4u);
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].substr(got[i].size() - 2), "r" + std::to_string(i)) << got[i];
    const auto end = p.stop();
    EXPECT_EQ(end.err, "");
}

} // namespace
