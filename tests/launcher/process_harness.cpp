#include "process_harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace harness {
namespace {

// Waits for pid until the deadline; kills it when the deadline passes.
Outcome finish(pid_t pid, std::chrono::milliseconds deadline) {
    Outcome outcome;
    const auto end = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return outcome;
        if (std::chrono::steady_clock::now() >= end) {
            outcome.timed_out = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.term_signal = WTERMSIG(status);
    return outcome;
}

std::string contents(FILE *file) {
    std::string text;
    rewind(file);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, file)) > 0;) text.append(buf, n);
    fclose(file);
    return text;
}

// What is in the pipe now; a grandchild that still holds it open cannot stall us.
std::string drain(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

} // namespace

Outcome run_forked(const std::function<std::string()> &fn) {
    FILE *out = tmpfile();
    FILE *result = tmpfile();
    if (out == nullptr || result == nullptr) return {};
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), STDOUT_FILENO);
        const std::string text = fn();
        fflush(stdout);
        fwrite(text.data(), 1, text.size(), result);
        fflush(result);
        _exit(0);
    }
    Outcome outcome = pid > 0 ? finish(pid, kDeadline) : Outcome{};
    outcome.out = contents(out);
    outcome.result = contents(result);
    return outcome;
}

Process::Process(const SpawnOptions &options) {
    int fds[2] = {-1, -1};
    if (options.stdout_pipe ? pipe2(fds, O_CLOEXEC) != 0 : (out_file_ = tmpfile()) == nullptr)
        return;
    std::vector<char *> argv, envp;
    for (const auto &a : options.argv) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto &e : options.env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    fflush(stdout);
    pid_ = fork();
    if (pid_ == 0) {
        const int fd = options.stdout_pipe ? fds[1] : fileno(out_file_);
        dup2(fd, STDOUT_FILENO);
        close(fd);
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
    if (fds[1] >= 0) close(fds[1]);
    pipe_fd_ = fds[0];
}

Process::~Process() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (pipe_fd_ >= 0) close(pipe_fd_);
    if (out_file_ != nullptr) fclose(out_file_);
}

void Process::signal(int sig) const {
    if (pid_ > 0) kill(pid_, sig);
}

void Process::close_output() {
    if (pipe_fd_ >= 0) close(pipe_fd_);
    pipe_fd_ = -1;
}

Outcome Process::wait(std::chrono::milliseconds deadline) {
    if (pid_ <= 0) return {};
    Outcome outcome = finish(pid_, deadline);
    pid_ = -1;
    if (pipe_fd_ >= 0) outcome.out = drain(pipe_fd_);
    if (out_file_ != nullptr) outcome.out = contents(out_file_);
    pipe_fd_ = -1;
    out_file_ = nullptr;
    return outcome;
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
