// Running code and programs in their own processes, with deadlines, for the launcher tests.
#ifndef VANTLE_TESTS_PROCESS_HARNESS_H
#define VANTLE_TESTS_PROCESS_HARNESS_H

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace harness {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kDeadline = 20s;

struct Outcome {
    bool timed_out = false;
    int exit_code = -1;  // when the process exited
    int term_signal = 0; // when a signal ended it
    std::string out;     // its standard output
    std::string result;  // what a forked function returned
};

// Runs fn in a forked child with standard output captured; fn's text comes back in
// Outcome::result. The child never returns into the test framework.
Outcome run_forked(const std::function<std::string()> &fn);

struct SpawnOptions {
    std::vector<std::string> argv;
    std::vector<std::string> env; // the whole environment, "NAME=value"
    bool stdout_pipe = false;     // a pipe (read once the program ended) instead of a file
    std::vector<int> blocked;     // the signal mask it starts with
    std::vector<int> ignored;     // signals it starts ignoring; all others default
};

// A program started with exactly the given environment, mask and dispositions.
class Process {
  public:
    explicit Process(const SpawnOptions &options);
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    pid_t pid() const { return pid_; }
    void signal(int sig) const;
    // Closes the reading end of a standard-output pipe: its writes then fail.
    void close_output();
    // Waits for the end, killing the process when the deadline passes.
    Outcome wait(std::chrono::milliseconds deadline = kDeadline);

  private:
    pid_t pid_ = -1;
    int pipe_fd_ = -1;
    FILE *out_file_ = nullptr;
};

// Polls cond until it holds or the deadline passes.
bool eventually(const std::function<bool()> &cond, std::chrono::milliseconds deadline = kDeadline);

std::string read_file(const std::string &path);

// A new empty directory /tmp/<prefix>XXXXXX; the test fails when none can be made.
std::filesystem::path make_temp_dir(const std::string &prefix);
std::vector<std::string> lines(const std::string &text);

} // namespace harness

#endif
