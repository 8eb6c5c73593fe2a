// Managed outputs, file, journal and syslog outputs, settings and the print macros.
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/ztc/debug/outputs.h"
#include "tests/base/ztc/debug/binary_record_decoder.h"
#include "tests/base/ztc/debug/debug_test_support.h"
#include "tests/launcher/process_harness.h"

using namespace dtest;
namespace fs = std::filesystem;

namespace {
constexpr int kTest = 37; // module "TEST"

// An external output counting what reaches it; on request it removes an output from inside.
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
        ++c->calls;
        c->line = line;
        c->file = file;
        c->function = function;
        c->message = message;
        if (c->remove_inside != nullptr) c->removed = debug_output_remove(c->remove_inside);
    }
};

// The levels of the standard-error output and the pre-test level, restored at the end.
struct SavedLevels {
    int levels[DEBUG_MODULE_COUNT];
    int runtime = debug_max_runtime_level;
    SavedLevels() { memcpy(levels, debug_output_stderr.levels, sizeof levels); }
    ~SavedLevels() {
        memcpy(debug_output_stderr.levels, levels, sizeof levels);
        debug_max_runtime_level = runtime;
    }
};

std::vector<debug_output_t *> list_now() {
    std::vector<debug_output_t *> outputs;
    for (debug_output_t *o = debug_output_list; o != nullptr; o = o->next) outputs.push_back(o);
    return outputs;
}

std::string read_all(const fs::path &path) {
    return harness::read_file(path.string());
}
} // namespace

// A ready record, its id and place, finding by name, and the faults add and remove report.
TEST(ManagedOutputs, AddFindAndRemove) {
    SavedLevels saved;
    const std::string long_name(200, 'n');
    Counter a("a"), b(long_name.c_str());
    EXPECT_EQ(std::string(b.record.name), long_name.substr(0, 127));
    debug_output_t text;
    debug_output_init_text(&text, "t", nullptr, debug_write_fd, 2);
    EXPECT_STREQ(text.u.text.format, kStderrFormat);
    EXPECT_EQ(text.levels[0], 3);
    EXPECT_EQ(text.levels[63], 3);

    ASSERT_EQ(debug_output_add(&a.record), ERROR_SUCCESS);
    ASSERT_EQ(debug_output_add(&b.record), ERROR_SUCCESS);
    EXPECT_EQ(debug_output_add(&a.record), ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(debug_output_add(nullptr), ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(list_now(), (std::vector{&debug_output_stderr, &a.record, &b.record}));
    EXPECT_EQ(a.record.id, 1); // the standard-error output keeps 0
    EXPECT_EQ(b.record.id, 2);
    EXPECT_EQ(debug_output_find("a"), &a.record);
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

    EXPECT_EQ(debug_output_remove(&a.record), ERROR_SUCCESS);
    EXPECT_EQ(debug_output_remove(&a.record), ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(debug_output_remove(nullptr), ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(list_now(), std::vector{&debug_output_stderr});
    // A freed id is given again.
    ASSERT_EQ(debug_output_add(&b.record), ERROR_SUCCESS);
    EXPECT_EQ(b.record.id, 1);
    EXPECT_EQ(debug_output_remove(&b.record), ERROR_SUCCESS);
}

// Once removed, a text output's writer is not entered even by a print naming it; the
// standard-error output leaves and comes back at the end of the list.
TEST(ManagedOutputs, RemovedOutputsGetNothingAndStandardErrorComesBack) {
    Sink sink;
    debug_output_t text;
    debug_output_init_text(&text, "sink", nullptr, Sink::write, reinterpret_cast<intptr_t>(&sink));
    ASSERT_EQ(debug_output_add(&text), ERROR_SUCCESS);
    ASSERT_EQ(debug_output_remove(&debug_output_stderr), ERROR_SUCCESS);
    int fds[2], saved = dup(2);
    ASSERT_EQ(pipe(fds), 0);
    dup2(fds[1], 2);
    debug_print(nullptr, kTest, 1, "f", 1, "g", "while removed");
    EXPECT_EQ(debug_output_add(&debug_output_stderr), ERROR_SUCCESS);
    EXPECT_EQ(list_now(), (std::vector{&text, &debug_output_stderr}));
    debug_print(nullptr, kTest, 1, "f", 1, "g", "back");
    dup2(saved, 2);
    close(saved);
    close(fds[1]);
    const std::string err = harness::read_file("/dev/fd/" + std::to_string(fds[0]));
    close(fds[0]);
    EXPECT_EQ(err.find("while removed"), std::string::npos);
    EXPECT_NE(err.find("back"), std::string::npos);

    EXPECT_EQ(debug_output_remove(&text), ERROR_SUCCESS);
    sink.bytes.clear();
    debug_print(&text, kTest, 1, "f", 1, "g", "named");
    EXPECT_EQ(sink.bytes, "");
    EXPECT_EQ(list_now(), std::vector{&debug_output_stderr});
}

// One module or all, and the pre-test follows a raised level.
TEST(ManagedOutputs, SetLevel) {
    SavedLevels saved;
    debug_max_runtime_level = 3;
    debug_output_t o;
    debug_output_init_binary(&o, "b", nullptr, 0);
    debug_output_set_level(&o, 5, 7);
    EXPECT_EQ(o.levels[5], 7);
    EXPECT_EQ(o.levels[4], 3);
    EXPECT_EQ(debug_max_runtime_level, 7);
    debug_output_set_level(&o, -1, 1);
    EXPECT_EQ(o.levels[0], 1);
    EXPECT_EQ(o.levels[63], 1);
    EXPECT_EQ(debug_max_runtime_level, 7); // never lowered
    debug_output_set_level(&o, 64, 9);
    debug_output_set_level(&o, -2, 9);
    EXPECT_EQ(o.levels[63], 1);
}

// Settings texts: the levels they leave on the standard-error output and the pre-test level,
// or an error and nothing changed.
TEST(Settings, Configure) {
    struct Case {
        const char *settings;
        error_code_t result;
        int generic, io, test, runtime;
    };
    const Case cases[] = {
        {"warn", ERROR_SUCCESS, 2, 2, 2, 2},
        {"info,io=debug", ERROR_SUCCESS, 3, 4, 3, 4},
        {" IO = Trace , Test=0", ERROR_SUCCESS, 3, 9, 0, 9},
        {"io=debug,io=off", ERROR_SUCCESS, 3, 0, 3, 3},
        {"debug,io=1", ERROR_SUCCESS, 4, 1, 4, 4},
        {"7,ERROR", ERROR_SUCCESS, 1, 1, 1, 1},
        {"", ERROR_SUCCESS, 3, 3, 3, 3},
        {"loud", ERROR_INVALID_ARGUMENT, 3, 3, 3, 3},
        {"io=", ERROR_INVALID_ARGUMENT, 3, 3, 3, 3},
        {"nosuch=3", ERROR_INVALID_ARGUMENT, 3, 3, 3, 3},
        {"debug,,io=3", ERROR_INVALID_ARGUMENT, 3, 3, 3, 3},
        {"10", ERROR_INVALID_ARGUMENT, 3, 3, 3, 3},
        {"debug,io=debug,", ERROR_INVALID_ARGUMENT, 3, 3, 3, 3},
        {"=3", ERROR_INVALID_ARGUMENT, 3, 3, 3, 3},
    };
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
    const std::string file = (dir / "debug.log").string();
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
        {{"ZTC_DEBUG_FILE=" + (dir / "none" / "x.log").string()},
         "ZTC_DEBUG_FILE: cannot open \"" + (dir / "none" / "x.log").string() +
             "\": No such file or directory",
         false},
    };
    for (const Case &c : cases) {
        harness::SpawnOptions options;
        options.argv = {"/bin/sh", "-c", "exec \"$0\" 2>&1", SETTINGS_CHILD};
        options.env = c.env;
        harness::Process child(options);
        const harness::Outcome outcome = child.wait();
        const auto lines = harness::lines(outcome.out);
        EXPECT_EQ(outcome.exit_code, 0) << outcome.out;
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], c.first_line);
        EXPECT_EQ(outcome.out.find("  io note 7\n") != std::string::npos, c.note) << outcome.out;
    }
    // The file output took the same levels and wrote its line out at exit.
    EXPECT_NE(read_all(file).find("IO4"), std::string::npos) << read_all(file);
    fs::remove_all(dir);
}

// The pre-test runs inline: a filtered print makes no call (a counting output would see it)
// and evaluates no argument; a print that passes names its call site.
TEST(PrintMacros, PreTestMakesNoCall) {
    SavedLevels saved;
    debug_output_stderr.levels[kTest] = 0;
    Counter counter;
    ASSERT_EQ(debug_output_add(&counter.record), ERROR_SUCCESS);
    int evaluated = 0;
    debug_max_runtime_level = 2;
    ZT_DEBUG(kTest, 3, "%d", ++evaluated);
    ZT_DEBUG_TO(&counter.record, kTest, 3, "%d", ++evaluated);
    EXPECT_EQ(evaluated, 0);
    EXPECT_EQ(counter.calls, 0);

    debug_max_runtime_level = 3;
    int level = 3;
    const int line = __LINE__ + 2;
    if (evaluated == 0)
        ZT_DEBUG(kTest, level++, "%d", ++evaluated);
    else
        ZT_DEBUG_TO(&counter.record, kTest, 1, "wrong branch");
    EXPECT_EQ(level, 4);
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(counter.message, "1");
    EXPECT_EQ(counter.file, "tests/base/ztc/debug/debug_outputs_test.cpp");
    EXPECT_EQ(counter.line, line);
    EXPECT_EQ(counter.function, "TestBody");
    ZT_DEBUG_TO(&counter.record, kTest, 3, "direct");
    EXPECT_EQ(counter.message, "direct");
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

// Rotation keeps the newest files and drops the oldest; a file moved away by an outside tool
// keeps the lines until the output reopens its path; lines wait in the buffer until flushed,
// errors and warnings do not.
TEST(FileOutput, RotationReopenAndFlushing) {
    SavedLevels saved;
    FixedTime clock;
    const fs::path dir = harness::make_temp_dir("ztc_file_");
    const fs::path path = dir / "app.log";
    const size_t line_size = line_of(0).size();
    debug_output_t *out =
        debug_output_open_file("app", path.c_str(), DEBUG_OUTPUT_TEXT, 3 * line_size, 2);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(debug_output_find("app"), out);
    debug_output_set_level(out, kTest, 9);
    const std::string dots(40, '.');
    for (int i = 0; i < 10; ++i)
        debug_print(out, kTest, 5, "f", 1, "fn", "line %d%s", i, dots.c_str());
    EXPECT_EQ(read_all(path), "") << "buffered";
    debug_output_flush(out);
    EXPECT_EQ(read_all(path), line_of(9));
    EXPECT_EQ(read_all(path.string() + ".1"), line_of(6) + line_of(7) + line_of(8));
    EXPECT_EQ(read_all(path.string() + ".2"), line_of(3) + line_of(4) + line_of(5));
    EXPECT_FALSE(fs::exists(path.string() + ".3"));
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644 & ~mask);

    fs::rename(path, dir / "moved.log");
    debug_print(out, kTest, 2, "f", 1, "fn", "warning");
    EXPECT_NE(read_all(dir / "moved.log").find("fn:    1:  warning\n"), std::string::npos);
    EXPECT_EQ(debug_output_reopen(out), ERROR_SUCCESS);
    debug_print(out, kTest, 1, "f", 1, "fn", "error");
    EXPECT_NE(read_all(path).find("fn:    1:  error\n"), std::string::npos);
    EXPECT_EQ(debug_output_dropped(out), 0u);
    debug_output_close(out);
    EXPECT_EQ(debug_output_find("app"), nullptr);
    fs::remove_all(dir);
}

// Records whole in a binary file; a full device drops and counts every line, and a path that
// cannot be opened gives null with errno.
TEST(FileOutput, BinaryRecordsFullDiskAndOpenFaults) {
    FixedTime clock;
    const fs::path dir = harness::make_temp_dir("ztc_file_");
    debug_output_t *bin =
        debug_output_open_file("bin", (dir / "r.bin").c_str(), DEBUG_OUTPUT_BINARY, 0, 0);
    ASSERT_NE(bin, nullptr);
    debug_print(bin, kTest, 3, "src/a", 7, "fn", "m%d", 1);
    debug_print(bin, kTest, 3, "src/a", 8, "fn", "m%d", 2);
    debug_output_close(bin);
    const std::string records = read_all(dir / "r.bin");
    RecordReader reader(records);
    EXPECT_EQ(reader.next(), (Record{-1, 3, kTest, 7, 5, 42, "src/a", "fn", "m1"}));
    EXPECT_EQ(reader.next(), (Record{-1, 3, kTest, 8, 5, 42, "src/a", "fn", "m2"}));
    EXPECT_TRUE(reader.at_end());

    if (access("/dev/full", W_OK) == 0) {
        debug_output_t *full =
            debug_output_open_file("full", "/dev/full", DEBUG_OUTPUT_TEXT, 100, 1);
        ASSERT_NE(full, nullptr);
        for (int i = 0; i < 5; ++i) debug_print(full, kTest, 3, "f", 1, "fn", "lost %d", i);
        debug_output_flush(full);
        debug_print(full, kTest, 1, "f", 1, "fn", "lost too");
        EXPECT_EQ(debug_output_dropped(full), 6u);
        debug_output_close(full);
        EXPECT_TRUE(fs::exists("/dev/full")); // never rotated away
    }
    errno = 0;
    EXPECT_EQ(debug_output_open_file("x", (dir / "no" / "x").c_str(), DEBUG_OUTPUT_TEXT, 0, 0),
              nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(debug_output_open_file("x", (dir / "x").c_str(), DEBUG_OUTPUT_EXTERNAL, 0, 0),
              nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(debug_output_dropped(&debug_output_stderr), 0u);
    EXPECT_EQ(debug_output_reopen(&debug_output_stderr), ERROR_INVALID_ARGUMENT);
    fs::remove_all(dir);
}

namespace {
// The fields of one native-protocol datagram; a field that breaks the framing ends it.
std::map<std::string, std::string> journal_fields(const std::string &d, bool *whole) {
    std::map<std::string, std::string> fields;
    size_t pos = 0;
    *whole = false;
    while (pos < d.size()) {
        const size_t end = d.find_first_of("=\n", pos);
        if (end == std::string::npos) return fields;
        const std::string name = d.substr(pos, end - pos);
        if (d[end] == '=') {
            const size_t nl = d.find('\n', end);
            if (nl == std::string::npos) return fields;
            fields[name] = d.substr(end + 1, nl - end - 1);
            pos = nl + 1;
            continue;
        }
        if (end + 9 > d.size()) return fields;
        uint64_t len = 0;
        for (int i = 7; i >= 0; --i) len = len << 8 | static_cast<uint8_t>(d[end + 1 + i]);
        if (end + 9 + len + 1 > d.size() || d[end + 9 + len] != '\n') return fields;
        fields[name] = d.substr(end + 9, len);
        pos = end + 9 + len + 1;
    }
    *whole = true;
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
    std::thread([&] {
        tid = gettid();
        strcpy(debug_thread_names[0], "worker");
        for (int level : {1, 2, 3, 4, 9})
            debug_print(out, kTest, level, "src/a.c", 42, "fn", "two\nlines %d", level);
        debug_thread_names[0][0] = '\0';
    }).join();
    const char *priorities[] = {"3", "4", "5", "6", "7"};
    for (const char *priority : priorities) {
        char buf[8192];
        const ssize_t n = recv(server, buf, sizeof buf, MSG_DONTWAIT);
        ASSERT_GT(n, 0);
        bool whole = false;
        auto fields = journal_fields(std::string(buf, static_cast<size_t>(n)), &whole);
        EXPECT_TRUE(whole);
        const std::string level = std::to_string(priority[0] == '7' ? 9 : priority[0] - '2');
        EXPECT_EQ(fields, (std::map<std::string, std::string>{
                              {"MESSAGE", "two\nlines " + level},
                              {"PRIORITY", priority},
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

    errno = 0;
    EXPECT_EQ(debug_output_open_journal("j", std::string(200, 'p').c_str()), nullptr);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(debug_output_open_syslog("s", "id", 1 << 30), nullptr);
    EXPECT_EQ(errno, EINVAL);
    debug_output_t *sys = debug_output_open_syslog("s", "ztc-test", LOG_LOCAL0);
    ASSERT_NE(sys, nullptr);
    EXPECT_EQ(debug_output_find("s"), sys);
    debug_output_close(sys);
    EXPECT_EQ(list_now(), std::vector{&debug_output_stderr});
    fs::remove_all(dir);
}
