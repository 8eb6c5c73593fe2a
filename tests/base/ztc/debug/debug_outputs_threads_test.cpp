// Managed outputs while threads print: adding and removing, rotation, and the lock order.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/ztc/debug/outputs.h"
#include "tests/base/ztc/debug/debug_test_support.h"
#include "tests/launcher/process_harness.h"

using namespace dtest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {
constexpr int kTest = 37;
constexpr int kPrinters = 8;

// An output that must never be entered once its removal returned.
struct Probe {
    debug_output_t record;
    std::atomic<bool> removed{false};
    static inline std::atomic<int> late{0}, calls{0};

    static int write(intptr_t user, const void *, size_t n) {
        late.fetch_add(reinterpret_cast<Probe *>(user)->removed.load());
        calls.fetch_add(1);
        return static_cast<int>(n);
    }
    static void external(intptr_t user, int, const char *, const struct timeval *, const char *,
                         int, int, const char *, int, const char *, const char *) {
        write(user, nullptr, 0);
    }
};

Probe *make_probe(int kind) {
    auto *p = new Probe;
    const auto user = reinterpret_cast<intptr_t>(p);
    if (kind == 0) debug_output_init_text(&p->record, "probe", nullptr, Probe::write, user);
    if (kind == 1) debug_output_init_binary(&p->record, "probe", Probe::write, user);
    if (kind == 2) debug_output_init_external(&p->record, "probe", Probe::external, user);
    debug_output_set_level(&p->record, kTest, 9);
    return p;
}

// Removed, then scribbled over and freed at once: a reader still inside it is caught by
// AddressSanitizer or ThreadSanitizer, a late delivery by the probe.
void retire(Probe *p) {
    ASSERT_EQ(debug_output_remove(&p->record), ERROR_SUCCESS);
    p->removed = true;
    memset(static_cast<void *>(&p->record), 0xA5, sizeof p->record);
    delete p;
}
} // namespace

// Eight threads print to all outputs while outputs of every type are added and removed and
// freed, the standard-error output among them.
TEST(OutputThreads, AddAndRemoveWhileEightThreadsPrint) {
    std::atomic<bool> stop{false};
    std::atomic<long> prints{0};
    std::vector<std::thread> printers;
    for (int t = 0; t < kPrinters; ++t) {
        printers.emplace_back([&, t] {
            for (int i = 0; !stop.load(); ++i) {
                // Mostly prints no output wants: the level test alone walks the whole list.
                if (i % 8 == 0)
                    debug_print(nullptr, kTest, 5, "f", 1, "fn", "t%d line %d", t, i);
                else
                    debug_print(nullptr, kTest + 1, 5, "f", 1, "fn", "unwanted");
                prints.fetch_add(1);
            }
        });
    }
    while (prints.load() < kPrinters) std::this_thread::yield();
    std::deque<Probe *> live;
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    int round = 0;
    for (; std::chrono::steady_clock::now() < end; ++round) {
        live.push_back(make_probe(round % 3));
        ASSERT_EQ(debug_output_add(&live.back()->record), ERROR_SUCCESS);
        if (live.size() > 12) {
            retire(live.front());
            live.pop_front();
        }
        if (round % 50 == 0) {
            ASSERT_EQ(debug_output_remove(&debug_output_stderr), ERROR_SUCCESS);
            ASSERT_EQ(debug_output_add(&debug_output_stderr), ERROR_SUCCESS);
        }
    }
    stop = true;
    for (auto &t : printers) t.join();
    for (Probe *p : live) retire(p);
    EXPECT_EQ(Probe::late.load(), 0);
    EXPECT_GT(Probe::calls.load(), 0);
    EXPECT_GT(prints.load(), 1000);
    EXPECT_GT(round, 1000);
    ASSERT_EQ(debug_output_list, &debug_output_stderr);
    EXPECT_EQ(debug_output_stderr.next, nullptr);
}

namespace {
std::string message(int t, int i) {
    return "t=" + std::to_string(t) + " i=" + std::to_string(i) + " " +
           std::string(static_cast<size_t>(10 + (t * 7 + i) % 50), static_cast<char>('a' + t));
}
} // namespace

// Eight threads print into a file rotated every few lines: every line arrives whole, in exactly
// one file, none is lost, and no file grows past the limit.
TEST(OutputThreads, RotationUnderEightPrintingThreads) {
    constexpr int kLines = 300;
    constexpr size_t kMax = 2048;
    Set<TimeFn> clock(debug_get_time_function, [](struct timeval *tv) { *tv = {5, 42}; });
    const fs::path dir = harness::make_temp_dir("ztc_rotation_");
    const std::string path = (dir / "app.log").string();
    debug_output_t *out = debug_output_open_file("rotating", path.c_str(), DEBUG_OUTPUT_TEXT, kMax,
                                                 kPrinters * kLines);
    ASSERT_NE(out, nullptr);
    debug_output_set_level(out, kTest, 9);
    std::vector<std::thread> printers;
    for (int t = 0; t < kPrinters; ++t) {
        printers.emplace_back([out, t] {
            for (int i = 0; i < kLines; ++i)
                debug_print(i % 2 ? out : nullptr, kTest, 5, "f", 1, "fn", "%s",
                            message(t, i).c_str());
        });
    }
    for (auto &t : printers) t.join();
    EXPECT_EQ(debug_output_dropped(out), 0u);
    debug_output_close(out);

    std::multiset<std::string> expected, found;
    for (int t = 0; t < kPrinters; ++t) {
        for (int i = 0; i < kLines; ++i) {
            char line[256];
            snprintf(line, sizeof line, kStderrFormat, 0, "000000005.000042", "TEST", 5, "", "fn",
                     1, "", message(t, i).c_str());
            expected.insert(line);
        }
    }
    int files = 0;
    for (fs::path file = path; fs::exists(file); file = path + "." + std::to_string(++files)) {
        EXPECT_LE(fs::file_size(file), kMax) << file;
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) found.insert(line + "\n");
    }
    EXPECT_GT(files, 100);
    EXPECT_TRUE(found == expected) << found.size() << " lines of " << expected.size();
    fs::remove_all(dir);
}

// A print to one output whose write callback prints to all outputs, while another thread
// printing to all outputs already holds the list and comes to that output: both finish. In
// the other lock order each would wait for the other for good.
TEST(OutputThreads, CallbackPrintingToAllWhileAnotherThreadPrintsToAll) {
    static std::atomic<bool> a_inside{false}, b_walking{false};
    static thread_local bool is_a = false, is_b = false;
    debug_output_t named, first;
    debug_output_init_text(
        &named, "named", nullptr,
        [](intptr_t, const void *, size_t n) {
            if (is_a && !a_inside.exchange(true)) {
                harness::eventually([] { return b_walking.load(); }, 500ms);
                debug_print(nullptr, kTest, 5, "f", 1, "fn", "from the callback");
            }
            return static_cast<int>(n);
        },
        0);
    // Comes before it in the list: thread B is inside the walk, holding the list.
    debug_output_init_external(
        &first, "first",
        [](intptr_t, int, const char *, const struct timeval *, const char *, int, int,
           const char *, int, const char *, const char *) {
            if (is_b && !b_walking.exchange(true))
                harness::eventually([] { return a_inside.load(); }, 500ms);
        },
        0);
    debug_output_set_level(&named, kTest, 9);
    debug_output_set_level(&first, kTest, 9);
    ASSERT_EQ(debug_output_add(&first), ERROR_SUCCESS);
    ASSERT_EQ(debug_output_add(&named), ERROR_SUCCESS);

    std::atomic<int> finished{0};
    std::thread a([&] {
        is_a = true;
        debug_print(&named, kTest, 5, "f", 1, "fn", "to the named output");
        finished.fetch_add(1);
    });
    std::thread b([&] {
        is_b = true;
        harness::eventually([] { return a_inside.load(); }, 500ms);
        debug_print(nullptr, kTest, 5, "f", 1, "fn", "to all");
        finished.fetch_add(1);
    });
    if (!harness::eventually([&] { return finished.load() == 2; })) {
        // Deadlocked threads cannot be joined.
        fprintf(stderr, "deadlock: the two prints still wait for each other\n");
        std::_Exit(1);
    }
    a.join();
    b.join();
    EXPECT_TRUE(a_inside.load());
    EXPECT_EQ(debug_output_remove(&named), ERROR_SUCCESS);
    EXPECT_EQ(debug_output_remove(&first), ERROR_SUCCESS);
}
