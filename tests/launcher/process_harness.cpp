#include "process_harness.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Drains the given pipes until all reach end of file or the deadline passes.
bool drain(std::vector<std::pair<int, std::string *>> pipes, Clock::time_point end) {
    while (!pipes.empty()) {
        std::vector<pollfd> fds;
        for (auto &p : pipes) fds.push_back({p.first, POLLIN, 0});
        const int left = ms_left(end);
        if (left == 0) return false;
        if (poll(fds.data(), fds.size(), left) < 0 && errno != EINTR) return false;
        for (size_t i = fds.size(); i-- > 0;) {
            if (fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                pipes[i].second->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                pipes.erase(pipes.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
    return true;
}

// Waits for pid until the deadline; kills it when the deadline passes.
void finish(pid_t pid, Clock::time_point end, Outcome &outcome) {
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return;
        if (ms_left(end) == 0) {
            outcome.timed_out = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.term_signal = WTERMSIG(status);
}

void write_all(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0 && errno != EINTR) return;
        if (n > 0) done += static_cast<size_t>(n);
    }
}

} // namespace

Outcome run_forked(const std::function<std::string()> &fn, std::chrono::milliseconds deadline) {
    int out[2], res[2];
    if (pipe(out) != 0 || pipe(res) != 0) return {};
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        close(res[0]);
        const std::string result = fn();
        fflush(stdout);
        write_all(res[1], result);
        _exit(0);
    }
    close(out[1]);
    close(res[1]);
    Outcome outcome;
    const auto end = Clock::now() + deadline;
    drain({{out[0], &outcome.out}, {res[0], &outcome.result}}, end);
    close(out[0]);
    close(res[0]);
    if (pid > 0) finish(pid, end, outcome);
    return outcome;
}

Process::Process(const SpawnOptions &options) : stdout_file_(options.stdout_file) {
    int out[2] = {-1, -1};
    if (stdout_file_.empty() && pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<char *> argv, envp;
    for (const auto &a : options.argv) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto &e : options.env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    fflush(stdout);
    pid_ = fork();
    if (pid_ == 0) {
        int fd = out[1];
        if (!stdout_file_.empty())
            fd = open(stdout_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP) ::signal(sig, SIG_DFL);
        }
        for (int sig : options.ignored) ::signal(sig, SIG_IGN);
        sigset_t mask;
        sigemptyset(&mask);
        for (int sig : options.blocked) sigaddset(&mask, sig);
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (out[1] >= 0) close(out[1]);
    out_fd_ = out[0];
}

Process::~Process() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
}

void Process::signal(int sig) const {
    if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

Outcome Process::wait(std::chrono::milliseconds deadline) {
    Outcome outcome;
    if (pid_ <= 0 || reaped_) return outcome;
    const auto end = Clock::now() + deadline;
    if (out_fd_ >= 0) {
        drain({{out_fd_, &outcome.out}}, end);
        close(out_fd_);
        out_fd_ = -1;
    }
    finish(pid_, end, outcome);
    reaped_ = true;
    if (!stdout_file_.empty()) outcome.out = read_file(stdout_file_);
    return outcome;
}

bool eventually(const std::function<bool()> &cond, std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (!cond()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

} // namespace harness
