// Managed outputs, file and journal outputs, settings, the print macros and fork.
#include <errno.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/ztc/debug/outputs.h"
#include "base/ztc/os/printf.h"
#include "tests/base/ztc/debug/binary_record_decoder.h"
#include "tests/base/ztc/debug/debug_test_support.h"
#include "tests/launcher/process_harness.h"

using namespace dtest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {
constexpr int kTest = 37; // module "TEST"

// An external output keeping the last print; on request it removes an output from inside.
struct Counter {
    debug_output_t record;
    int calls = 0, line = 0;
    std::string file, function, message;
    debug_output_t *remove_inside = nullptr;
    error_code_t removed = -1;
    explicit Counter(const char *name = "counter") {
        debug_output_init_external(&record, name, count, reinterpret_cast<intptr_t>(this));
        debug_output_set_level(&record, kTest, 9);
    }
    static void count(intptr_t user, int, const char *, const struct timeval *, const char *, int,
                      int, const char *file, int line, const char *function, const char *message) {
        auto *c = reinterpret_cast<Counter *>(user);
        ++c->calls, c->line = line, c->file = file, c->function = function, c->message = message;
        if (c->remove_inside != nullptr) c->removed = debug_output_remove(c->remove_inside);
    }
};

// The standard-error output's levels and the pre-test level, restored at the end.
struct SavedLevels {
    int levels[DEBUG_MODULE_COUNT];
    Set<int> runtime{debug_max_runtime_level, 3};
    SavedLevels() { memcpy(levels, debug_output_stderr.levels, sizeof levels); }
    ~SavedLevels() { memcpy(debug_output_stderr.levels, levels, sizeof levels); }
};

std::vector<debug_output_t *> list_now() {
    std::vector<debug_output_t *> outputs;
    for (debug_output_t *o = debug_output_list; o != nullptr; o = o->next) outputs.push_back(o);
    return outputs;
}
} // namespace

// Ready records, ids and places, finding, levels, and the faults add and remove report.
TEST(ManagedOutputs, AddFindRemoveAndLevels) {
    SavedLevels saved;
    const std::string long_name(200, 'n');
    Counter a("a"), b(long_name.c_str());
    Sink sink;
    debug_output_t text;
    debug_output_init_text(&text, "t", nullptr, Sink::write, reinterpret_cast<intptr_t>(&sink));
    EXPECT_EQ(std::string(b.record.name), long_name.substr(0, 127));
    EXPECT_STREQ(text.u.text.format, kStderrFormat);
    EXPECT_EQ(text.levels[63], 3);
    // Made again from its own name and format, or with no name at all.
    debug_output_t again;
    debug_output_init_text(&again, "again", "%s", nullptr, 0);
    debug_output_init_text(&again, again.name, again.u.text.format, nullptr, 0);
    EXPECT_STREQ(again.name, "again");
    EXPECT_STREQ(again.u.text.format, "%s");
    debug_output_init_binary(&again, nullptr, nullptr, 0);
    EXPECT_STREQ(again.name, "");

    ASSERT_EQ(debug_output_add(&a.record), ERROR_SUCCESS);
    ASSERT_EQ(debug_output_add(&b.record), ERROR_SUCCESS);
    EXPECT_EQ(debug_output_add(&a.record), ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(debug_output_add(nullptr), ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(list_now(), (std::vector{&debug_output_stderr, &a.record, &b.record}));
    EXPECT_EQ((std::vector{a.record.id, b.record.id}), (std::vector{1, 2}));
    EXPECT_EQ(debug_output_find(long_name.substr(0, 127).c_str()), &b.record);
    EXPECT_EQ(debug_output_find("b"), nullptr);

    // Removed from inside a delivery: itself is refused, another output goes.
    a.remove_inside = &a.record;
    debug_print(&a.record, kTest, 5, "f", 1, "g", "x");
    EXPECT_EQ(a.removed, ERROR_IN_USE);
    a.remove_inside = &b.record;
    debug_print(nullptr, kTest, 5, "f", 1, "g", "x");
    EXPECT_EQ(a.removed, ERROR_SUCCESS);
    EXPECT_EQ(b.calls, 0);
    EXPECT_EQ(debug_output_remove(&b.record), ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(debug_output_remove(nullptr), ERROR_INVALID_ARGUMENT);

    // The standard-error output leaves and comes back at the end; a freed id is given again.
    ASSERT_EQ(debug_output_remove(&debug_output_stderr), ERROR_SUCCESS);
    ASSERT_EQ(debug_output_add(&text), ERROR_SUCCESS);
    ASSERT_EQ(debug_output_add(&debug_output_stderr), ERROR_SUCCESS);
    EXPECT_EQ(list_now(), (std::vector{&a.record, &text, &debug_output_stderr}));
    EXPECT_EQ((std::vector{text.id, debug_output_stderr.id}), (std::vector{0, 2}));

    // A removed text output is not entered even by a print that names it.
    EXPECT_EQ(debug_output_remove(&text), ERROR_SUCCESS);
    debug_print(&text, kTest, 1, "f", 1, "g", "named");
    EXPECT_EQ(sink.bytes, "");
    EXPECT_EQ(debug_output_remove(&a.record), ERROR_SUCCESS);
    EXPECT_EQ(list_now(), std::vector{&debug_output_stderr});

    debug_max_runtime_level = 3;
    debug_output_set_level(&text, 5, 7);
    EXPECT_EQ((std::vector{text.levels[4], text.levels[5], debug_max_runtime_level}),
              (std::vector{3, 7, 7}));
    debug_output_set_level(&text, -1, 1); // every module; the pre-test is never lowered
    debug_output_set_level(&text, 64, 9);
    EXPECT_EQ((std::vector{text.levels[0], text.levels[63], debug_max_runtime_level}),
              (std::vector{1, 1, 7}));
}

// Settings texts: the levels they leave on the standard-error output and the pre-test level,
// or an error and nothing changed.
TEST(Settings, Configure) {
    struct Case {
        const char *settings;
        error_code_t result = ERROR_INVALID_ARGUMENT; // and nothing changed
        int generic = 3, io = 3, test = 3, runtime = 3;
    };
    constexpr error_code_t ok = ERROR_SUCCESS;
    std::vector<Case> cases = {
        {"warn", ok, 2, 2, 2, 2},
        {"info,io=debug", ok, 3, 4, 3, 4},
        {" IO = Trace , Test=0", ok, 3, 9, 0, 9},
        {"io=debug,io=off", ok, 3, 0, 3, 3},
        {"debug,io=1", ok, 4, 1, 4, 4},
        {"7,ERROR", ok, 1, 1, 1, 1},
        {"", ok},
    };
    for (const char *wrong :
         {"loud", "io=", "nosuch=3", "debug,,io=3", "10", "debug,io=debug,", "=3"})
        cases.push_back({wrong});
    SavedLevels saved;
    for (const Case &c : cases) {
        for (int &level : debug_output_stderr.levels) level = 3;
        debug_max_runtime_level = 3;
        EXPECT_EQ(debug_configure(c.settings), c.result) << c.settings;
        EXPECT_EQ((std::vector{debug_output_stderr.levels[0], debug_output_stderr.levels[2],
                               debug_output_stderr.levels[kTest], debug_max_runtime_level}),
                  (std::vector{c.generic, c.io, c.test, c.runtime}))
            << c.settings;
    }
    EXPECT_EQ(debug_configure(nullptr), ERROR_INVALID_ARGUMENT);
}

// ZTC_DEBUG and ZTC_DEBUG_FILE at start-up, in programs of their own.
TEST(Settings, FromTheEnvironment) {
    const fs::path dir = harness::make_temp_dir("ztc_settings_");
    const std::string file = (dir / "debug.log").string(), none = (dir / "no" / "x").string();
    struct Case {
        std::vector<std::string> env;
        std::string first_line; // of standard output and error together
        bool note;              // the IO print of level 4 reached standard error
    };
    const Case cases[] = {
        {{"ZTC_DEBUG=info,io=debug"}, "runtime=4 generic=3 io=4 file=-1", true},
        {{"ZTC_DEBUG=info,io=loud"},
         "ZTC_DEBUG: wrong item \"io=loud\", settings not applied",
         false},
        {{"ZTC_DEBUG=warn,IO=4", "ZTC_DEBUG_FILE=" + file},
         "runtime=4 generic=2 io=4 file=4",
         true},
        {{"ZTC_DEBUG_FILE=" + none},
         "ZTC_DEBUG_FILE: cannot open \"" + none + "\": No such file or directory",
         false},
    };
    for (const Case &c : cases) {
        const harness::Outcome outcome = harness::run(
            {.argv = {"/bin/sh", "-c", "exec \"$0\" 2>&1", SETTINGS_CHILD}, .env = c.env});
        EXPECT_EQ(outcome.exit_code, 0) << outcome.out;
        EXPECT_EQ(harness::lines(outcome.out).at(0), c.first_line);
        EXPECT_EQ(outcome.out.find("  io note 7\n") != std::string::npos, c.note) << outcome.out;
    }
    // The file output took the same levels and wrote its line out at exit.
    EXPECT_NE(harness::read_file(file).find("IO4"), std::string::npos) << harness::read_file(file);
    fs::remove_all(dir);
}

// The pre-test runs inline: a filtered print makes no call (the counting output would see
// it) and evaluates no argument; a print that passes names its call site.
TEST(PrintMacros, PreTestMakesNoCall) {
    SavedLevels saved;
    debug_output_stderr.levels[kTest] = 0;
    Counter counter;
    ASSERT_EQ(debug_output_add(&counter.record), ERROR_SUCCESS);
    int evaluated = 0, level = 3;
    debug_max_runtime_level = 2;
    ZT_DEBUG(kTest, 3, "%d", ++evaluated);
    ZT_DEBUG_TO(&counter.record, kTest, 3, "%d", ++evaluated);
    EXPECT_EQ(evaluated + counter.calls, 0);

    debug_max_runtime_level = 3;
    const int line = __LINE__ + 2;
    if (evaluated == 0)
        ZT_DEBUG(kTest, level++, "%d", ++evaluated);
    else
        ZT_DEBUG_TO(&counter.record, kTest, 1, "wrong branch");
    EXPECT_EQ((std::vector{level, counter.calls, counter.line}), (std::vector{4, 1, line}));
    EXPECT_EQ(counter.message, "1");
    EXPECT_EQ(counter.file, "tests/base/ztc/debug/debug_outputs_test.cpp");
    EXPECT_EQ(counter.function, "TestBody");
    EXPECT_EQ(debug_output_remove(&counter.record), ERROR_SUCCESS);
}

namespace {
std::string line_of(int i) {
    char buf[128];
    snprintf(buf, sizeof buf, kStderrFormat, -1, "000000005.000042", "TEST", 5, "", "fn", 1, "",
             ("line " + std::to_string(i) + std::string(40, '.')).c_str());
    return buf;
}
} // namespace

// Rotation keeps the newest files and drops the oldest; lines wait in the buffer until
// flushed, errors and warnings do not; a file moved away keeps the lines until the output
// reopens its path.
TEST(FileOutput, RotationReopenAndFlushing) {
    SavedLevels saved;
    FixedTime clock;
    const fs::path dir = harness::make_temp_dir("ztc_file_");
    const std::string path = (dir / "app.log").string();
    debug_output_t *out =
        debug_output_open_file("app", path.c_str(), DEBUG_OUTPUT_TEXT, 3 * line_of(0).size(), 2);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(debug_output_find("app"), out);
    debug_output_set_level(out, kTest, 9);
    for (int i = 0; i < 10; ++i)
        debug_print(out, kTest, 5, "f", 1, "fn", "line %d%s", i, std::string(40, '.').c_str());
    EXPECT_EQ(harness::read_file(path), "");
    debug_output_flush(out);
    EXPECT_EQ(harness::read_file(path), line_of(9));
    EXPECT_EQ(harness::read_file(path + ".1"), line_of(6) + line_of(7) + line_of(8));
    EXPECT_EQ(harness::read_file(path + ".2"), line_of(3) + line_of(4) + line_of(5));
    EXPECT_FALSE(fs::exists(path + ".3"));
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(path).permissions()), 0644 & ~mask);

    fs::rename(path, dir / "moved.log");
    debug_print(out, kTest, 2, "f", 1, "fn", "warning");
    EXPECT_NE(harness::read_file(dir / "moved.log").find("fn:    1:  warning\n"),
              std::string::npos);
    EXPECT_EQ(debug_output_reopen(out), ERROR_SUCCESS);
    debug_print(out, kTest, 1, "f", 1, "fn", "error");
    EXPECT_NE(harness::read_file(path).find("fn:    1:  error\n"), std::string::npos);
    EXPECT_EQ(debug_output_dropped(out), 0u);
    debug_output_close(out);
    EXPECT_EQ(debug_output_find("app"), nullptr);
    EXPECT_EQ(debug_output_reopen(&debug_output_stderr), ERROR_INVALID_ARGUMENT);

    // However many backups may be kept, a rotation moves only those there are.
    const std::string many = (dir / "many.log").string();
    out =
        debug_output_open_file("many", many.c_str(), DEBUG_OUTPUT_TEXT, line_of(0).size(), INT_MAX);
    ASSERT_NE(out, nullptr);
    debug_output_set_level(out, kTest, 9);
    for (int i = 0; i < 3; ++i)
        debug_print(out, kTest, 5, "f", 1, "fn", "line %d%s", i, std::string(40, '.').c_str());
    debug_output_close(out);
    EXPECT_EQ(harness::read_file(many) + harness::read_file(many + ".1") +
                  harness::read_file(many + ".2"),
              line_of(2) + line_of(1) + line_of(0));
    fs::remove_all(dir);
}

// A line the file takes only part of (here at the file size limit) is dropped and its part
// cut off again, but a line another writer appended before it stays.
TEST(FileOutput, CutLineTakesNothingOfAnotherWriter) {
    const fs::path dir = harness::make_temp_dir("ztc_file_");
    const std::string path = (dir / "a.log").string();
    debug_output_t *out = debug_output_open_file("a", path.c_str(), DEBUG_OUTPUT_TEXT, 0, 0);
    ASSERT_NE(out, nullptr);
    debug_print(out, kTest, 1, "f", 1, "fn", "first");
    FILE *other = fopen(path.c_str(), "a");
    ASSERT_NE(other, nullptr);
    fputs("another writer\n", other);
    fclose(other);
    const std::string before = harness::read_file(path);
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limit = saved;
    limit.rlim_cur = before.size() + 20;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    debug_print(out, kTest, 1, "f", 1, "fn", "cut short");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(harness::read_file(path), before);
    EXPECT_EQ(debug_output_dropped(out), 1u);
    debug_output_close(out);
    fs::remove_all(dir);
}

// At exit the buffered lines are written out, also while another thread prints for a moment.
TEST(FileOutput, ExitWritesBufferedLinesAfterAnotherThreadsPrint) {
    const fs::path dir = harness::make_temp_dir("ztc_file_");
    const std::string path = (dir / "exit.log").string();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        debug_output_t *out = debug_output_open_file("exit", path.c_str(), DEBUG_OUTPUT_TEXT, 0, 0);
        if (out == nullptr) _exit(2);
        debug_print(out, kTest, 3, "f", 1, "fn", "buffered");
        // A slow external output: the thread holds the list while it is served.
        static std::atomic<bool> serving{false};
        static debug_output_t slow;
        debug_output_init_external(
            &slow, "slow",
            [](intptr_t, int, const char *, const struct timeval *, const char *, int, int,
               const char *, int, const char *, const char *) {
                serving = true;
                usleep(200 * 1000);
            },
            0);
        debug_output_set_level(&slow, kTest, 9);
        debug_output_add(&slow);
        std::thread([] { debug_print(nullptr, kTest, 9, "f", 1, "fn", "slow"); }).detach();
        while (!serving) usleep(1000);
        exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(harness::read_file(path).find("fn:    1:  buffered\n"), std::string::npos);
    fs::remove_all(dir);
}

// Whole records in a binary file; a full device drops and counts every line; a path that
// cannot be opened gives null and errno.
TEST(FileOutput, BinaryRecordsAndFullDisk) {
    FixedTime clock;
    const fs::path dir = harness::make_temp_dir("ztc_file_");
    debug_output_t *bin =
        debug_output_open_file("bin", (dir / "r.bin").c_str(), DEBUG_OUTPUT_BINARY, 0, 0);
    ASSERT_NE(bin, nullptr);
    debug_print(bin, kTest, 3, "src/a", 7, "fn", "m%d", 1);
    debug_print(bin, kTest, 3, "src/a", 8, "fn", "m%d", 2);
    debug_output_close(bin);
    const std::string records = harness::read_file(dir / "r.bin");
    RecordReader reader(records);
    EXPECT_EQ(reader.next(), (Record{-1, 3, kTest, 7, 5, 42, "src/a", "fn", "m1"}));
    EXPECT_EQ(reader.next(), (Record{-1, 3, kTest, 8, 5, 42, "src/a", "fn", "m2"}));
    EXPECT_TRUE(reader.at_end());

    if (access("/dev/full", W_OK) == 0) {
        debug_output_t *full = debug_output_open_file("full", "/dev/full", DEBUG_OUTPUT_TEXT, 9, 1);
        ASSERT_NE(full, nullptr);
        for (int i = 0; i < 5; ++i) debug_print(full, kTest, 3, "f", 1, "fn", "lost %d", i);
        debug_output_flush(full);
        debug_print(full, kTest, 1, "f", 1, "fn", "lost too");
        EXPECT_EQ(debug_output_dropped(full), 6u);
        debug_output_close(full);
        EXPECT_TRUE(fs::exists("/dev/full")); // a device is never rotated away
    }
    EXPECT_EQ(debug_output_open_file("x", (dir / "no" / "x").c_str(), DEBUG_OUTPUT_TEXT, 0, 0),
              nullptr);
    EXPECT_EQ(errno, ENOENT);
    fs::remove_all(dir);
}

namespace {
// The fields of one native-protocol datagram; empty when a field breaks the framing.
std::map<std::string, std::string> journal_fields(const std::string &d) {
    std::map<std::string, std::string> fields;
    for (size_t pos = 0; pos < d.size();) {
        const size_t end = d.find_first_of("=\n", pos);
        const size_t nl = end == std::string::npos ? end : d.find('\n', end);
        if (nl == std::string::npos) return {};
        std::string &value = fields[d.substr(pos, end - pos)];
        if (d[end] == '=') {
            value = d.substr(end + 1, nl - end - 1);
            pos = nl + 1;
            continue;
        }
        uint64_t len = 0;
        for (size_t i = 8; i >= 1 && end + i < d.size(); --i)
            len = len << 8 | static_cast<uint8_t>(d[end + i]);
        if (end + 9 + len >= d.size() || d[end + 9 + len] != '\n') return {};
        value = d.substr(end + 9, len);
        pos = end + 10 + len;
    }
    return fields;
}
} // namespace

// Every field as the journal reads it, the priority per level, and drops without blocking
// once the socket is gone.
TEST(JournalOutput, FieldsPrioritiesAndDrops) {
    SavedLevels saved;
    const fs::path dir = harness::make_temp_dir("ztc_journal_");
    const std::string path = (dir / "socket").string();
    const int server = socket(AF_UNIX, SOCK_DGRAM, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    debug_output_t *out = debug_output_open_journal("journal", path.c_str());
    ASSERT_NE(out, nullptr);
    debug_output_set_level(out, kTest, 9);

    long tid = 0;
    const int levels[] = {1, 2, 3, 4, 9};
    std::thread([&] {
        tid = gettid();
        strcpy(debug_thread_names[0], "worker");
        for (int level : levels)
            debug_print(out, kTest, level, "src/a.c", 42, "fn", "two\nlines %d", level);
        debug_thread_names[0][0] = '\0';
    }).join();
    for (int i = 0; i < 5; ++i) {
        char buf[8192];
        const ssize_t n = recv(server, buf, sizeof buf, MSG_DONTWAIT);
        ASSERT_GT(n, 0);
        EXPECT_EQ(journal_fields(std::string(buf, static_cast<size_t>(n))),
                  (std::map<std::string, std::string>{
                      {"MESSAGE", "two\nlines " + std::to_string(levels[i])},
                      {"PRIORITY", std::to_string(3 + i)},
                      {"CODE_FILE", "src/a.c"},
                      {"CODE_LINE", "42"},
                      {"CODE_FUNC", "fn"},
                      {"SYSLOG_IDENTIFIER", program_invocation_short_name},
                      {"TID", std::to_string(tid)},
                      {"ZTC_MODULE", "TEST"},
                      {"ZTC_THREAD_NUM", "0"},
                      {"ZTC_THREAD_NAME", "worker"}}));
    }
    close(server);
    unlink(path.c_str());
    debug_print(out, kTest, 3, "f", 1, "fn", "nobody listens");
    debug_print(nullptr, kTest, 5, "f", 1, "fn", "nobody listens");
    EXPECT_EQ(debug_output_dropped(out), 2u);
    debug_output_close(out);
    EXPECT_EQ(debug_output_open_journal("j", std::string(200, 'p').c_str()), nullptr);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(list_now(), std::vector{&debug_output_stderr});
    fs::remove_all(dir);
}

// The C library sends to /dev/log: a child with a mount namespace of its own puts a socket
// there. The ident and facility of the output and the priority of each level arrive.
TEST(SyslogOutput, IdentFacilityAndPriorities) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
            mount("tmpfs", "/dev", "tmpfs", 0, nullptr) != 0)
            _exit(77);
        const int server = socket(AF_UNIX, SOCK_DGRAM, 0);
        struct sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        strcpy(addr.sun_path, "/dev/log");
        if (bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) _exit(2);
        // The datagram of one print: its priority and facility first, ident and message last.
        const auto arrives = [&](debug_output_t *out, int level, int priority, const char *ident) {
            debug_print(out, kTest, level, "f", 1, "fn", "level %d", level);
            char buf[512];
            const ssize_t n = recv(server, buf, sizeof buf - 1, MSG_DONTWAIT);
            if (n <= 0) return false;
            const std::string got(buf, static_cast<size_t>(n));
            const std::string head = "<" + std::to_string(LOG_LOCAL3 | priority) + ">";
            const std::string tail = std::string(ident) + "[" + std::to_string(getpid()) +
                                     "]: level " + std::to_string(level);
            if (got.rfind(head, 0) == 0 && got.size() >= tail.size() &&
                got.compare(got.size() - tail.size(), tail.size(), tail) == 0)
                return true;
            fprintf(stderr, "syslog datagram: %s\n", got.c_str());
            return false;
        };
        debug_output_t *out = debug_output_open_syslog("syslog", "ztc-test", LOG_LOCAL3);
        if (out == nullptr) _exit(3);
        debug_output_set_level(out, kTest, 9);
        const std::pair<int, int> priorities[] = {{1, LOG_ERR}, {3, LOG_NOTICE}, {9, LOG_DEBUG}};
        for (const auto &[level, priority] : priorities)
            if (!arrives(out, level, priority, "ztc-test")) _exit(4);
        // The newest open output gives the ident for all; when it closes, the newest one left
        // gives it again. One without an ident gives the program's name.
        debug_output_t *other = debug_output_open_syslog("other", "other", LOG_LOCAL3);
        if (other == nullptr) _exit(3);
        debug_output_close(other);
        if (!arrives(out, 1, LOG_ERR, "ztc-test")) _exit(5);
        debug_output_t *plain = debug_output_open_syslog("plain", nullptr, LOG_LOCAL3);
        if (plain == nullptr) _exit(3);
        debug_output_close(out);
        if (!arrives(plain, 1, LOG_ERR, program_invocation_short_name)) _exit(6);
        debug_output_close(plain);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace for /dev/log here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A fork while another thread is inside a delivery, holding the list lock and an output's
// lock: the child prints and registers. It also writes out its file outputs, but the line the
// parent still buffers is the parent's to write, and arrives once.
TEST(Fork, ChildPrintsAndRegistersWhileAnotherThreadDelivers) {
    const fs::path dir = harness::make_temp_dir("ztc_fork_");
    const std::string path = (dir / "f.log").string();
    debug_output_t *file = debug_output_open_file("file", path.c_str(), DEBUG_OUTPUT_TEXT, 0, 0);
    ASSERT_NE(file, nullptr);
    debug_print(file, kTest, 3, "f", 1, "fn", "buffered before the fork");
    static std::atomic<bool> inside{false};
    debug_output_t slow;
    debug_output_init_text(
        &slow, "slow", nullptr,
        [](intptr_t, const void *, size_t n) {
            inside = true;
            std::this_thread::sleep_for(1500ms);
            return static_cast<int>(n);
        },
        0);
    debug_output_set_level(&slow, -1, 0);
    debug_output_set_level(&slow, kTest, 9);
    ASSERT_EQ(debug_output_add(&slow), ERROR_SUCCESS);
    std::thread printer([] { debug_print(nullptr, kTest, 5, "f", 1, "fn", "slow line"); });
    while (!inside.load()) std::this_thread::sleep_for(1ms);

    const harness::Outcome outcome = harness::run_forked([] {
        alarm(5); // a child that hangs ends by the alarm
        dup2(STDOUT_FILENO, STDERR_FILENO);
        debug_print(nullptr, 1, 1, "f", 1, "fn", "child prints");
        const error_code_t registered =
            zt_printf_register("forked_child", [](const void *, char *buf, size_t size) {
                return snprintf(buf, size, "child");
            });
        debug_output_flush(nullptr);
        char text[64];
        zt_snprintf(text, sizeof text, "%p{forked_child}", nullptr);
        return std::to_string(registered) + " " + text;
    });
    printer.join();
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.term_signal, 0);
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_TRUE(outcome.out.ends_with("fn:    1:  child prints\n")) << outcome.out;
    EXPECT_EQ(outcome.result, "0 child");
    EXPECT_EQ(debug_output_remove(&slow), ERROR_SUCCESS);
    debug_output_close(file);
    const std::string text = harness::read_file(path);
    EXPECT_NE(text.find("buffered before the fork"), std::string::npos);
    EXPECT_EQ(text.find("buffered before the fork"), text.rfind("buffered before the fork"));
    fs::remove_all(dir);
}
