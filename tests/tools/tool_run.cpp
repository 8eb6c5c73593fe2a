#include "tests/tools/tool_run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace toolrun {
namespace {

int temp_fd() {
    char name[] = "/tmp/tool_run_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) unlink(name);
    return fd;
}

std::string contents(int fd) {
    std::string text;
    lseek(fd, 0, SEEK_SET);
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Child side: stdin, stdout, stderr as given (-1: closed), then exec.
[[noreturn]] void exec_with(const std::vector<std::string> &argv,
                            const std::vector<std::string> *env, int in, int out, int err,
                            bool ignore_sigpipe, const std::string &cwd = {}) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    const int fds[3] = {in, out, err};
    // Moved above the standard slots first, so no dup2 overwrites a source.
    int high[3];
    for (int i = 0; i < 3; ++i) high[i] = fds[i] >= 0 ? fcntl(fds[i], F_DUPFD_CLOEXEC, 10) : -1;
    for (int i = 0; i < 3; ++i) {
        if (high[i] >= 0)
            dup2(high[i], i);
        else
            close(i);
    }
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_DFL);
    if (ignore_sigpipe) signal(SIGPIPE, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char *> args, envp;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    if (env != nullptr) {
        for (const auto &e : *env) envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        execve(args[0], args.data(), envp.data());
    } else {
        execv(args[0], args.data());
    }
    _exit(127);
}

result finish(pid_t pid, std::chrono::milliseconds limit) {
    result r;
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid) break;
        if (w < 0 && errno != EINTR) return r;
        if (std::chrono::steady_clock::now() >= end) {
            r.timed_out = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    return r;
}

} // namespace

result run(const request &s) {
    const int in = temp_fd();
    if (write(in, s.input.data(), s.input.size()) != static_cast<ssize_t>(s.input.size()))
        return {};
    lseek(in, 0, SEEK_SET);
    const int err = temp_fd();
    int out = -1, pipe_fds[2] = {-1, -1};
    switch (s.out) {
    case output::file:
        out = temp_fd();
        break;
    case output::dev_full:
        out = open("/dev/full", O_WRONLY | O_CLOEXEC);
        break;
    case output::closed:
        break;
    case output::no_reader:
        if (pipe2(pipe_fds, O_CLOEXEC) == 0) {
            close(pipe_fds[0]);
            out = pipe_fds[1];
        }
        break;
    }
    const pid_t pid = fork();
    if (pid == 0)
        exec_with(s.argv, s.env.empty() ? nullptr : &s.env, in, out, err, s.ignore_sigpipe, s.cwd);
    close(in);
    result r = pid > 0 ? finish(pid, deadline) : result{};
    if (s.out == output::file)
        r.out = contents(out);
    else if (out >= 0)
        close(out);
    r.err = contents(err);
    return r;
}

live::live(const std::vector<std::string> &argv) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    err_file_ = temp_fd();
    pid_ = fork();
    if (pid_ == 0) exec_with(argv, nullptr, in[0], out[1], err_file_, false);
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
}

live::~live() {
    stop();
}

void live::feed(const std::string &bytes) {
    for (size_t done = 0; in_ >= 0 && done < bytes.size();) {
        const ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void live::close_input() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

std::vector<std::string> live::lines(size_t n, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    auto complete = [&] {
        std::vector<std::string> found;
        size_t start = 0;
        for (size_t nl; (nl = got_.find('\n', start)) != std::string::npos; start = nl + 1)
            found.push_back(got_.substr(start, nl - start));
        return found;
    };
    while (out_ >= 0 && complete().size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        const ssize_t got = read(out_, buf, sizeof buf);
        if (got <= 0) break;
        got_.append(buf, static_cast<size_t>(got));
    }
    return complete();
}

result live::stop() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    return wait();
}

result live::wait() {
    result r;
    if (pid_ > 0) r = finish(pid_, deadline);
    pid_ = -1;
    close_input();
    if (out_ >= 0) {
        // The writer has ended: the pipe holds what it wrote, then its end.
        char buf[4096];
        for (ssize_t n; (n = read(out_, buf, sizeof buf)) > 0;)
            got_.append(buf, static_cast<size_t>(n));
        close(out_);
        out_ = -1;
    }
    r.out = got_;
    if (err_file_ >= 0) r.err = contents(err_file_);
    err_file_ = -1;
    return r;
}

} // namespace toolrun
