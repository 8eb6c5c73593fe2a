#include "process_harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace harness {
namespace {

// Waits for pid until the deadline; kills it when the deadline passes.
Outcome finish(pid_t pid, std::chrono::milliseconds deadline) {
    Outcome outcome;
    int status = 0;
    pid_t r = 0;
    outcome.timed_out = !eventually(
        [&] { return (r = waitpid(pid, &status, WNOHANG)) != 0 && (r > 0 || errno != EINTR); },
        deadline);
    if (outcome.timed_out) {
        kill(pid, SIGKILL);
        r = waitpid(pid, &status, 0);
    }
    if (r != pid) return outcome;
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.term_signal = WTERMSIG(status);
    return outcome;
}

// An unlinked temporary file holding bytes, positioned at its start.
int temp_file(const std::string &bytes = {}) {
    char name[] = "/tmp/harness_XXXXXX";
    const int fd = mkostemp(name, O_CLOEXEC);
    if (fd < 0) return -1;
    unlink(name);
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        ADD_FAILURE() << "cannot write a temporary file";
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// What a file holds, or what a pipe holds now: a grandchild that still has the pipe open
// cannot stall us. Closes fd.
std::string take(int fd, std::string text = {}) {
    if (fd < 0) return text;
    lseek(fd, 0, SEEK_SET);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

} // namespace

Outcome run_forked(const std::function<std::string()> &fn) {
    const int out = temp_file(), result = temp_file();
    if (out < 0 || result < 0) return {};
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        const std::string text = fn();
        fflush(stdout);
        if (write(result, text.data(), text.size()) < 0) _exit(1);
        _exit(0);
    }
    Outcome outcome = pid > 0 ? finish(pid, kDeadline) : Outcome{};
    outcome.out = take(out);
    outcome.result = take(result);
    return outcome;
}

Process::Process(const SpawnOptions &options) {
    // The child's standard input, output and error (-1: closed).
    int fds[3] = {-1, -1, STDERR_FILENO}, p[2];
    if (!options.input_pipe) {
        fds[0] = temp_file(options.input);
    } else if (pipe2(p, O_CLOEXEC) == 0) {
        fds[0] = p[0];
        in_ = p[1];
    }
    if (options.out == Output::file) fds[1] = out_ = temp_file();
    if (options.out == Output::dev_full) fds[1] = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if ((options.out == Output::pipe || options.out == Output::no_reader) &&
        pipe2(p, O_CLOEXEC) == 0) {
        fds[1] = p[1];
        if (options.out == Output::pipe)
            out_ = p[0];
        else
            close(p[0]);
    }
    if (options.capture_err) fds[2] = err_ = temp_file();

    std::vector<char *> argv, envp;
    for (const auto &a : options.argv) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto &e : options.env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    fflush(stdout);
    pid_ = fork();
    if (pid_ == 0) {
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        // Moved above the standard slots first, so that no dup2 overwrites a source.
        int high[3];
        for (int i = 0; i < 3; ++i) high[i] = fds[i] >= 0 ? fcntl(fds[i], F_DUPFD_CLOEXEC, 10) : -1;
        for (int i = 0; i < 3; ++i) {
            if (high[i] >= 0)
                dup2(high[i], i);
            else
                close(i);
        }
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP) ::signal(sig, SIG_DFL);
        }
        for (int sig : options.ignored) ::signal(sig, SIG_IGN);
        sigset_t mask;
        sigemptyset(&mask);
        for (int sig : options.blocked) sigaddset(&mask, sig);
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        execve(argv[0], argv.data(), options.env.empty() ? environ : envp.data());
        _exit(127);
    }
    for (int fd : {fds[0], fds[1]}) {
        if (fd >= 0 && fd != out_) close(fd);
    }
}

Process::~Process() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
        if (fd >= 0) close(fd);
    }
}

void Process::signal(int sig) const {
    if (pid_ > 0) kill(pid_, sig);
}

void Process::feed(const std::string &bytes) {
    for (size_t done = 0; in_ >= 0 && done < bytes.size();) {
        const ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

std::vector<std::string> Process::lines(size_t n, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    auto whole = [&] { return harness::lines(got_.substr(0, got_.rfind('\n') + 1)); };
    for (char buf[4096]; whole().size() < n;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd ready{out_, POLLIN, 0};
        if (left.count() <= 0) break;
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t got = read(out_, buf, sizeof buf);
        if (got <= 0) break;
        got_.append(buf, static_cast<size_t>(got));
    }
    return whole();
}

Outcome Process::wait(std::chrono::milliseconds deadline) {
    if (pid_ <= 0) return {};
    if (in_ >= 0) close(in_);
    in_ = -1;
    Outcome outcome = finish(pid_, deadline);
    pid_ = -1;
    outcome.out = take(out_, std::move(got_));
    outcome.err = take(err_);
    out_ = err_ = -1;
    return outcome;
}

Outcome run(const SpawnOptions &options) {
    return Process(options).wait();
}

bool eventually(const std::function<bool()> &cond, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::filesystem::path make_temp_dir(const std::string &prefix) {
    std::string tmpl = "/tmp/" + prefix + "XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    return tmpl;
}

std::string read_file(const std::filesystem::path &path) {
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
