// Running code and programs in their own processes, with deadlines, for the launcher and
// tool tests.
#ifndef VANTLE_TESTS_PROCESS_HARNESS_H
#define VANTLE_TESTS_PROCESS_HARNESS_H

#include <chrono>
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
    std::string err;     // its standard error, when captured
    std::string result;  // what a forked function returned
};

// Runs fn in a forked child with standard output captured; fn's text comes back in
// Outcome::result. The child never returns into the test framework.
Outcome run_forked(const std::function<std::string()> &fn);

// Where a program's standard output goes.
enum class Output {
    file,      // a file, read once the program ended
    pipe,      // a pipe, read while it runs (Process::lines) and once it ended
    dev_full,  // writes fail with ENOSPC
    closed,    // no descriptor 1
    no_reader, // a pipe whose reading end is closed before the start
};

struct SpawnOptions {
    std::vector<std::string> argv{};
    std::vector<std::string> env{}; // the whole environment, "NAME=value"; empty: the test's own
    Output out = Output::file;
    std::string input{};        // its standard input, as a regular file
    bool input_pipe = false;    // a pipe the test feeds instead (Process::feed)
    bool capture_err = false;   // standard error into Outcome::err instead of the test's
    std::string cwd{};          // its working directory, when not empty
    std::vector<int> blocked{}; // the signal mask it starts with
    std::vector<int> ignored{}; // signals it starts ignoring; all others default
};

// A program started with exactly the given descriptors, environment, mask and dispositions.
class Process {
  public:
    explicit Process(const SpawnOptions &options);
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    pid_t pid() const { return pid_; }
    void signal(int sig) const;
    void feed(const std::string &bytes);
    // Reads the output pipe until it holds n whole lines or the deadline passes.
    std::vector<std::string> lines(size_t n, std::chrono::milliseconds deadline = kDeadline);
    // Closes the input, waits for the end, killing the process when the deadline passes.
    Outcome wait(std::chrono::milliseconds deadline = kDeadline);

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string got_;
};

// Runs a program to its end.
Outcome run(const SpawnOptions &options);

// Polls cond until it holds or the deadline passes.
bool eventually(const std::function<bool()> &cond, std::chrono::milliseconds deadline = kDeadline);

std::string read_file(const std::filesystem::path &path);

// A new empty directory /tmp/<prefix>XXXXXX; the test fails when none can be made.
std::filesystem::path make_temp_dir(const std::string &prefix);
std::vector<std::string> lines(const std::string &text);

} // namespace harness

#endif
