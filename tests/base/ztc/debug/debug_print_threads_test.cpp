// Many threads printing at once: every line and record arrives whole and unmixed.
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/base/ztc/debug/binary_record_decoder.h"
#include "tests/base/ztc/debug/debug_test_support.h"

using namespace dtest;

namespace {
constexpr int kThreads = 8, kLines = 400;

// Writes to the pipe a few bytes per call, so unlocked writers would interleave.
int write_in_pieces(intptr_t fd, const void *bytes, size_t len) {
    return debug_write_fd(fd, bytes, len < 7 ? len : 7);
}

std::string message(int worker, int i) {
    return "<w=" + std::to_string(worker) + " i=" + std::to_string(i) + " " +
           std::string(20 + worker, static_cast<char>('a' + worker)) + ">";
}
} // namespace

TEST(PrintThreads, LinesAndRecordsArriveWhole) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    debug_output_t text = make_output(DEBUG_OUTPUT_TEXT, 1, fds[1]);
    text.u.text.write = write_in_pieces;
    Sink records;
    debug_output_t binary =
        make_output(DEBUG_OUTPUT_BINARY, 2, reinterpret_cast<intptr_t>(&records));
    auto saved_time = debug_get_time_function;
    debug_get_time_function = [](struct timeval *tv) { *tv = {5, 42}; };
    std::string received;
    std::thread reader([&] {
        char buf[4096];
        for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) received.append(buf, n);
    });
    {
        ListScope list{&text, &binary};
        std::vector<std::thread> workers;
        // Even workers print to all outputs, odd ones to the text output alone.
        for (int w = 0; w < kThreads; ++w)
            workers.emplace_back([&, w] {
                for (int i = 0; i < kLines; ++i)
                    debug_print(w % 2 ? &text : nullptr, 37, 3, "f", 1, "fn", "%s",
                                message(w, i).c_str());
            });
        for (auto &t : workers) t.join();
    }
    close(fds[1]);
    reader.join();
    close(fds[0]);
    debug_get_time_function = saved_time;

    char header[256];
    snprintf(header, sizeof header, kStderrFormat, 0, "000000005.000042", "TEST", 3, "", "fn", 1,
             "", "");
    header[strlen(header) - 1] = '\0'; // the newline follows the message
    std::vector<int> next(kThreads, 0);
    std::istringstream lines(received);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_EQ(line.rfind(header, 0), 0u) << line;
        int w = -1, i = -1;
        ASSERT_EQ(sscanf(line.c_str() + strlen(header), "<w=%d i=%d", &w, &i), 2) << line;
        ASSERT_TRUE(w >= 0 && w < kThreads && i == next[w]) << line;
        ASSERT_EQ(line.substr(strlen(header)), message(w, next[w]++));
    }
    EXPECT_EQ(count, kThreads * kLines);
    RecordReader reader_b(records.bytes);
    int decoded = 0;
    while (!reader_b.at_end()) {
        auto r = reader_b.next();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->text.back(), '>');
        ++decoded;
    }
    EXPECT_EQ(decoded, kThreads / 2 * kLines);
}
