// Running the built tools with their standard output where a test wants it (a file,
// /dev/full, a closed descriptor, a pipe nobody reads) and standard error captured;
// or live, fed and read through pipes while they run.
#ifndef VANTLE_TESTS_TOOLS_TOOL_RUN_H
#define VANTLE_TESTS_TOOLS_TOOL_RUN_H

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace toolrun {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds deadline = 20s;

enum class output { file, dev_full, closed, no_reader };

struct request {
    std::vector<std::string> argv;
    std::vector<std::string> env; // the whole environment
    std::string input;            // its standard input, as a regular file
    std::string cwd;              // its working directory, when not empty
    output out = output::file;
    bool ignore_sigpipe = false;
};

struct result {
    bool timed_out = false;
    int status = -1; // when it exited
    int signal = 0;  // when a signal ended it
    std::string out, err;
};

result run(const request &s);

// A program whose standard input and output are pipes held by the test.
class live {
  public:
    explicit live(const std::vector<std::string> &argv);
    ~live();
    live(const live &) = delete;
    live &operator=(const live &) = delete;

    void feed(const std::string &bytes);
    void close_input();
    // Reads until the output holds n lines or the deadline passes; returns them.
    std::vector<std::string> lines(size_t n, std::chrono::milliseconds limit = deadline);
    // Ends it with SIGKILL (when still running) and returns what it left.
    result stop();
    // Waits for it to end by itself.
    result wait();

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    int err_file_ = -1;
    std::string got_;
};

} // namespace toolrun

#endif
