// Debug prints and threads: numbers from 99 down, and many threads printing at once.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <list>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/ztc/os/thread.h"
#include "base/ztc/time/time.h"
#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
// A thread that takes its number and keeps it until destroyed.
class Holder {
  public:
    Holder() { taken_.wait(); }
    ~Holder() {
        release_.count_down();
        thread_.join();
    }
    int num() const { return num_; }

  private:
    std::latch taken_{1}, release_{1};
    int num_ = -2;
    std::thread thread_{[this] {
        num_ = debug_get_thread_num();
        taken_.count_down();
        release_.wait();
    }};
};

std::string note(int level, const char *line_and_text) {
    return "BASE" + std::to_string(level) + std::string(16, ' ') +
           "debug_get_thread_num:  " + line_and_text + "\n";
}
} // namespace

// Allocation on: numbers from the top, a freed one first; with all 100 taken a thread shares
// 99, reports it, and does not wait on itself. The notes (level 4) go to a sink.
TEST(ThreadNums, FromTheTopFreedFirstAndAllTaken) {
    Set<uint32_t> on(debug_thread_nums_enabled, 1);
    Set<int> notes(debug_max_runtime_level, 4);
    Sink sink;
    debug_output_t out = make_output(DEBUG_OUTPUT_TEXT, 1, &sink, 4);
    ListScope list{&out};
    // A print that no output wants takes no number, so no note.
    std::thread([] { debug_print(nullptr, 0, 9, "f", 1, "g", "x"); }).join();
    EXPECT_EQ(sink.bytes, "");
    {
        std::optional<Holder> a(std::in_place), b(std::in_place), c(std::in_place);
        EXPECT_EQ((std::vector{a->num(), b->num(), c->num()}), (std::vector{99, 98, 97}));
        b.reset();
        EXPECT_EQ(Holder().num(), 98);
    }
    EXPECT_EQ(debug_get_thread_num(), -1); // the initial thread never takes one
    EXPECT_NE(sink.bytes.find(note(4, "128:  Thread num allocated: 97.")), std::string::npos);
    std::list<Holder> holders;
    for (int i = 0; i < DEBUG_THREAD_NUM_COUNT; ++i) holders.emplace_back();
    EXPECT_EQ(holders.back().num(), 0);
    EXPECT_EQ(sink.bytes.find("allocation failed"), std::string::npos);
    EXPECT_EQ(Holder().num(), 99);
    EXPECT_NE(sink.bytes.find(note(1, "119:  Thread num allocation failed!")), std::string::npos)
        << sink.bytes;
    holders.clear();
    EXPECT_EQ(Holder().num(), 99);
}

namespace {
constexpr int kWaves = 4, kPerWave = 64, kWorkers = kWaves * kPerWave, kLines = 25;
std::atomic<int> hooks_run{0};
const std::string kTail = " w\u00e9de 1.23ms"; // the wide text and the duration

int count_hook(void *) {
    hooks_run.fetch_add(1);
    return 0;
}

// Writes to the pipe a few bytes per call, so unlocked writers would interleave.
int write_in_pieces(intptr_t fd, const void *bytes, size_t len) {
    return debug_write_fd(fd, bytes, len < 7 ? len : 7);
}

std::string message(int worker, int i) {
    return "<w=" + std::to_string(worker) + " i=" + std::to_string(i) + " " +
           std::string(20 + worker % 8, static_cast<char>('a' + worker % 26)) + ">";
}

// Registers an exit hook and prints through the engine's per-thread memory: even workers to
// all outputs, odd ones to the text output directly.
void work(int w, debug_output_t *text) {
    zt_thread_atexit(count_hook, nullptr);
    zt_time_t d = 1234567;
    for (int i = 0; i < kLines; ++i)
        debug_print(w % 2 ? text : nullptr, 37, 3, "f", 1, "fn", "%s %ls %p{zt_dur}",
                    message(w, i).c_str(), L"w\u00e9de", &d);
}
} // namespace

// Threads come and go, 64 at a time, printing to a pipe in small pieces, half of them through
// the output list: every line arrives whole and unmixed, and per-thread memory (checked by
// LeakSanitizer), thread numbers and exit hooks are all given back.
TEST(PrintThreads, ThreadsComingAndGoingPrintWholeAndGiveEverythingBack) {
    Set<uint32_t> numbered(debug_thread_nums_enabled, 1);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    debug_output_t text = make_output(DEBUG_OUTPUT_TEXT, 1, nullptr);
    text.u.text.write = write_in_pieces;
    text.u.text.user = fds[1];
    std::string received;
    std::thread reader([&] {
        char buf[4096];
        for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) received.append(buf, n);
    });
    {
        Set<TimeFn> clock(debug_get_time_function, [](struct timeval *tv) { *tv = {5, 42}; });
        ListScope list{&text};
        for (int wave = 0; wave < kWaves; ++wave) {
            std::vector<std::thread> workers;
            for (int w = wave * kPerWave; w < (wave + 1) * kPerWave; ++w)
                workers.emplace_back(work, w, &text);
            for (auto &t : workers) t.join();
        }
    }
    close(fds[1]);
    reader.join();
    close(fds[0]);

    char header[256];
    snprintf(header, sizeof header, kStderrFormat, 0, "000000005.000042", "TEST", 3, "", "fn", 1,
             "", "");
    const std::string head(header + 2, strlen(header) - 3); // without number and newline
    std::vector<int> next(kWorkers, 0);
    std::istringstream lines(received);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        int w = line.size() > head.size() + 5 ? atoi(line.c_str() + head.size() + 5) : -1;
        ASSERT_TRUE(w >= 0 && w < kWorkers) << line;
        ASSERT_EQ(line.substr(2), head + message(w, next[w]++) + kTail);
    }
    EXPECT_EQ(count, kWorkers * kLines);
    EXPECT_EQ(hooks_run.load(), kWorkers); // each ending thread runs its hook once
    int fresh = -2; // every number came back: a new thread starts again from the top
    std::thread([&] { fresh = debug_get_thread_num(); }).join();
    EXPECT_EQ(fresh, 99);
}
