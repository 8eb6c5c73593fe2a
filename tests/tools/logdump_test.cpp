// Records read from bytes built field by field; the built ztc-logdump against the library's
// own outputs and against such records: files, a live pipe, a followed file that is rotated.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "tests/base/ztc/debug/debug_test_support.h"
#include "tests/launcher/process_harness.h"
#include "tests/tools/record_bytes.h"
#include "tools/logdump_record.h"

namespace {

namespace fs = std::filesystem;
using dtest::Sink;
using record_bytes::fields;

using bytes = std::vector<uint8_t>;

bytes make_record(const record_bytes::fields &f) {
    const std::string b = record_bytes::make(f);
    return bytes(b.begin(), b.end());
}

TEST(LogdumpRecord, ReadsEveryField) {
    // The texts are views into the bytes, which must outlive the record.
    const bytes wide =
        make_record({98, 4, 0x1122334455667788, 999999, 63, "t", "base/x", "fn", -3});
    const auto r = logdump::read_record(wide);
    ASSERT_EQ(r.what, logdump::status::ok);
    EXPECT_EQ(r.size, 60u);
    const auto &x = r.rec;
    EXPECT_EQ(std::tie(x.thread, x.level, x.seconds, x.microseconds, x.module, x.line),
              std::make_tuple(98, 4, int64_t{0x1122334455667788}, 999999u, 63, -3));
    EXPECT_EQ(std::tie(x.file, x.function, x.text), std::make_tuple("base/x", "fn", "t"));
}

struct damage_case {
    const char *what;
    size_t keep;    // bytes of the good record kept (0: all)
    size_t poke_at; // byte to overwrite (SIZE_MAX: none)
    uint8_t value;
    logdump::status expect;
    size_t problem;
    bool more; // more input could mend it
};

TEST(LogdumpRecord, ReportsDamageWithItsOffset) {
    const bytes good = make_record({3, 2, 1, 2, 0, "hello", "file", "func", 10});
    const damage_case cases[] = {
        {"bad magic", 0, 1, 0x00, logdump::status::bad_magic, 0, false},
        {"unknown version", 0, 7, 3, logdump::status::bad_version, 4, false},
        {"tail inside the fixed part", 20, SIZE_MAX, 0, logdump::status::truncated, 20, true},
        {"tail inside the magic", 3, SIZE_MAX, 0, logdump::status::truncated, 3, true},
        {"file length past the end", 0, 32, 0x7F, logdump::status::bad_length, 32, true},
        {"zero file length", 0, 35, 0, logdump::status::bad_length, 32, false},
        {"text without its NUL", 0, good.size() - 1, 'x', logdump::status::bad_length, 54, false},
        {"tail inside the text", good.size() - 2, SIZE_MAX, 0, logdump::status::bad_length, 54,
         true},
        {"tail inside the line", 52, SIZE_MAX, 0, logdump::status::truncated, 52, true},
    };
    for (const auto &c : cases) {
        bytes b(good.begin(), good.begin() + static_cast<long>(c.keep ? c.keep : good.size()));
        if (c.poke_at != SIZE_MAX) b[c.poke_at] = c.value;
        const auto r = logdump::read_record(b);
        EXPECT_EQ(r.what, c.expect) << c.what;
        EXPECT_EQ(r.problem, c.problem) << c.what;
        EXPECT_EQ(r.more, c.more) << c.what;
    }
}

// A reader that bounds record sizes learns of a longer record from its lengths,
// without waiting for the bytes.
TEST(LogdumpRecord, ARecordPastTheLimitIsTooLongAtOnce) {
    const bytes good = make_record({3, 2, 1, 2, 0, std::string(100, 'x'), "file", "func", 10});
    EXPECT_EQ(logdump::read_record(good, good.size()).what, logdump::status::ok);
    const bytes head(good.begin(), good.begin() + 60);
    const auto r = logdump::read_record(head, 100);
    EXPECT_EQ(r.what, logdump::status::too_long);
    EXPECT_EQ(r.problem, 54u);
    EXPECT_FALSE(r.more);
}

void write_file(const fs::path &path, const std::string &bytes, bool append = false) {
    std::ofstream(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << bytes;
}

class Logdump : public ::testing::Test {
  protected:
    void SetUp() override {
        std::strcpy(text_.u.text.format, debug_output_stderr.u.text.format);
        dir_ = harness::make_temp_dir("logdump_");
        file_ = dir_ / "log.bin";
    }
    void TearDown() override { fs::remove_all(dir_); }

    template <typename... Args>
    void print_both(int module, int level, const char *function, int line, const char *fmt,
                    Args... args) {
        for (debug_output_t *o : {&text_, &binary_})
            debug_print(o, module, level, "base/test", line, function, fmt, args...);
    }

    // The tool over bytes in a file, the file named last.
    harness::Outcome dump(std::vector<std::string> args, const std::string &bytes) {
        write_file(file_, bytes);
        harness::SpawnOptions s{.argv = {ZTC_LOGDUMP}, .capture_err = true};
        s.argv.insert(s.argv.end(), args.begin(), args.end());
        s.argv.push_back(file_.string());
        return harness::run(s);
    }

    dtest::FixedTime clock_;
    Sink text_sink_, binary_sink_;
    debug_output_t text_ = dtest::make_output(DEBUG_OUTPUT_TEXT, 5, &text_sink_, 9);
    debug_output_t binary_ = dtest::make_output(DEBUG_OUTPUT_BINARY, 6, &binary_sink_, 9);
    std::string &text_bytes_ = text_sink_.bytes, &binary_bytes_ = binary_sink_.bytes;
    fs::path dir_, file_;
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

TEST_F(Logdump, JsonLinesCarryEveryFieldEscapedAndTheirSource) {
    print_both(1, 3, "fn", 7, "quote \" backslash \\ tab \t bad \xff end");
    const std::string line = "{\"offset\":0,\"thread\":-1,\"seconds\":5,\"microseconds\":42,"
                             "\"module\":1,\"module_name\":\"BASE\",\"level\":3,\"level_name\":"
                             "\"info\",\"file\":\"base/test\",\"function\":\"fn\",\"line\":7,"
                             "\"text\":\"quote \\\" backslash \\\\ tab \\u0009 bad \\ufffd end\"";
    const auto one = dump({"--json"}, binary_bytes_);
    EXPECT_EQ(one.exit_code, 0);
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
    EXPECT_EQ(plain.exit_code, 1);
    EXPECT_EQ(plain.out, text_bytes_.substr(0, text_bytes_.find('\n') + 1)) << "the good first one";
    EXPECT_EQ(plain.err,
              "ztc-logdump: " + file_.string() + ": unknown format version at byte offset " +
                  std::to_string(first + 4) + " (record at " + std::to_string(first) + ")\n");

    std::string stream = "junk" + binary_bytes_.substr(0, first + 10) + binary_bytes_.substr(first);
    auto resync = dump({"--resync"}, stream);
    EXPECT_EQ(resync.exit_code, 1);
    EXPECT_EQ(resync.out, text_bytes_);
    EXPECT_EQ(harness::lines(resync.err).size(), 2u) << resync.err;

    auto cut = dump({}, binary_bytes_.substr(0, binary_bytes_.size() - 3));
    EXPECT_EQ(cut.exit_code, 1);
}

// A record's texts cannot break its line or reach the terminal as control codes,
// unless --raw asks for the bytes.
TEST_F(Logdump, TextModeEscapesControlCharacters) {
    const std::string text = "a\nb\tc\r\x1b[2Jd\x7f e\xc2\x9b f\xff g\xc3\xa9";
    const std::string escaped = "a\\nb\\tc\\r\\x1b[2Jd\\x7f e\\xc2\\x9b f\\xff g\xc3\xa9";
    const std::string bytes = record_bytes::make({.text = text, .function = "fn\n"});

    const auto shown = dump({}, bytes);
    EXPECT_EQ(shown.exit_code, 0);
    ASSERT_EQ(harness::lines(shown.out).size(), 1u) << shown.out;
    EXPECT_NE(shown.out.find("fn\\n:  227:  " + escaped + "\n"), std::string::npos) << shown.out;

    const auto raw = dump({"--raw"}, bytes);
    EXPECT_NE(raw.out.find("fn\n:  227:  " + text + "\n"), std::string::npos) << raw.out;
}

TEST_F(Logdump, FiltersSelectRecords) {
    const int64_t noon = 1714564800; // 2024-05-01T12:00:00Z
    const fields records[] = {
        {-1, 1, 100, 0, 1, "r0"},  {5, 2, 100, 500000, 2, "r1"},    {5, 4, 200, 0, 1, "r2"},
        {7, 9, noon, 0, 49, "r3"}, {7, 3, noon + 3600, 0, 2, "r4"},
    };
    std::string bytes;
    for (const auto &r : records) bytes += record_bytes::make(r);

    const struct {
        std::vector<std::string> args;
        std::string expect;
    } cases[] = {
        {{}, "r0 r1 r2 r3 r4"},
        {{"--level=2"}, "r0 r1"},
        {{"-l2"}, "r0 r1"},
        {{"--lev", "2"}, "r0 r1"},
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
        EXPECT_EQ(got.exit_code, 0) << testing::PrintToString(c.args);
        EXPECT_EQ(ids, c.expect) << testing::PrintToString(c.args);
    }
}

// After "--" a word that looks like an option is a file name.
TEST_F(Logdump, TwoDashesEndTheOptions) {
    write_file(dir_ / "-j", record_bytes::make({}));
    const auto named = harness::run(
        {.argv = {ZTC_LOGDUMP, "--", "-j"}, .capture_err = true, .cwd = dir_.string()});
    EXPECT_EQ(named.exit_code, 0) << named.err;
    EXPECT_TRUE(named.out.starts_with("-1:")) << "-j read as a file, in text mode: " << named.out;
}

// Records reach the reader while the pipe is still open, a part record waits for its rest.
TEST_F(Logdump, StreamsAPipeAsRecordsArrive) {
    harness::Process p({.argv = {ZTC_LOGDUMP},
                        .out = harness::Output::pipe,
                        .input_pipe = true,
                        .capture_err = true});
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

    const auto end = p.wait(); // at the end of its input
    EXPECT_EQ(end.exit_code, 0) << end.err;
}

// Damage without --resync ends the dump there, without reading (and holding) the rest.
TEST_F(Logdump, DamageEndsTheDumpBeforeThePipeEnds) {
    harness::Process p({.argv = {ZTC_LOGDUMP},
                        .out = harness::Output::pipe,
                        .input_pipe = true,
                        .capture_err = true});
    p.feed(std::string(64, 'x'));
    const auto exited = [&] {
        std::ifstream stat("/proc/" + std::to_string(p.pid()) + "/stat");
        std::string pid, name, state;
        stat >> pid >> name >> state;
        return state == "Z";
    };
    EXPECT_TRUE(harness::eventually(exited, std::chrono::seconds(5)));
    const auto end = p.wait();
    EXPECT_EQ(end.exit_code, 1) << end.err;
}

// Like tail -F: waits at the end, finishes a file rotated away, then reads the new
// file at the name from its start.
TEST_F(Logdump, FollowsAFileAcrossARotation) {
    write_file(file_, record_bytes::make({.text = "r0"}));
    harness::Process p({.argv = {ZTC_LOGDUMP, "--follow", file_.string()},
                        .out = harness::Output::pipe,
                        .capture_err = true});
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
    p.signal(SIGKILL);
    EXPECT_EQ(p.wait().err, "");
}

} // namespace
