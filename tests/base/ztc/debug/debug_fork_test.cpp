// A fork while another thread is inside a delivery: the child prints and registers.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "base/ztc/debug/outputs.h"
#include "base/ztc/os/printf.h"
#include "tests/launcher/process_harness.h"

using namespace std::chrono_literals;

namespace {
std::atomic<bool> inside{false};

// Holds the thread in the write loop, with the list lock and the output's lock taken.
int slow_write(intptr_t, const void *, size_t n) {
    inside = true;
    std::this_thread::sleep_for(1500ms);
    return static_cast<int>(n);
}

int child_formatter(const void *, char *buf, size_t size) {
    return snprintf(buf, size, "child");
}
} // namespace

// The child also writes out its file outputs: the line the parent still buffers is the
// parent's to write, and arrives once.
TEST(Fork, ChildPrintsAndRegistersWhileAnotherThreadDelivers) {
    char path[] = "/tmp/ztc_fork_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    debug_output_t *file = debug_output_open_file("file", path, DEBUG_OUTPUT_TEXT, 0, 0);
    ASSERT_NE(file, nullptr);
    debug_print(file, 37, 3, "f", 1, "fn", "buffered before the fork");
    debug_output_t slow;
    debug_output_init_text(&slow, "slow", nullptr, slow_write, 0);
    debug_output_set_level(&slow, -1, 0);
    debug_output_set_level(&slow, 37, 9);
    ASSERT_EQ(debug_output_add(&slow), ERROR_SUCCESS);
    std::thread printer([] { debug_print(nullptr, 37, 5, "f", 1, "fn", "slow line"); });
    while (!inside.load()) std::this_thread::sleep_for(1ms);

    const harness::Outcome outcome = harness::run_forked([] {
        alarm(5); // a child that hangs ends by the alarm
        int fds[2];
        if (pipe(fds) != 0) return std::string("no pipe");
        dup2(fds[1], 2);
        debug_print(nullptr, 1, 1, "f", 1, "fn", "child prints");
        const error_code_t registered = zt_printf_register("forked_child", child_formatter);
        debug_output_flush(nullptr);
        char text[64];
        zt_snprintf(text, sizeof text, "%p{forked_child}", nullptr);
        char err[512] = "";
        const ssize_t n = read(fds[0], err, sizeof err - 1);
        return std::string(err, n > 0 ? static_cast<size_t>(n) : 0) + std::to_string(registered) +
               " " + text;
    });
    printer.join();
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.term_signal, 0);
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_NE(outcome.result.find("fn:    1:  child prints\n0 child"), std::string::npos)
        << outcome.result;
    EXPECT_EQ(debug_output_remove(&slow), ERROR_SUCCESS);
    debug_output_close(file);
    const std::string text = harness::read_file(path);
    EXPECT_NE(text.find("buffered before the fork"), std::string::npos);
    EXPECT_EQ(text.find("buffered before the fork"), text.rfind("buffered before the fork"));
    unlink(path);
}
