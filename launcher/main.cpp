// The launch loop: start the hinted slot's application, pass on SIGTERM and SIGINT,
// and start it again for as long as it exits with the restart status.
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "launcher/install.h"

namespace {
constexpr int kRestartStatus = 42;
constexpr int kMaxForwardedArgc = 126;
constexpr size_t kArgSlots = 128;
constexpr size_t kExecPathBytes = 4096;
// Room for the child's few calls between clone and exec, sanitizers included.
constexpr size_t kChildStackBytes = 64 * 1024;
constexpr std::array kForwardedSignals = {SIGTERM, SIGINT};

// The running or not yet reaped child, 0 while there is none. Only the loop writes
// it: the new child's pid while the forwarded signals are blocked, and 0 once it
// has reaped that child (or given up waiting for it).
volatile sig_atomic_t child_pid = 0;

extern "C" void forward_signal(int sig) {
    const int saved = errno;
    const pid_t pid = child_pid;
    // Only the loop reaps, and it is held here: a child that is not reaped yet
    // keeps its pid, so the signal cannot reach anyone else.
    siginfo_t info;
    if (pid > 0 && waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
        kill(pid, sig);
        errno = saved;
        return;
    }
    // No child to pass it on to: end as the signal asks, without touching stdio.
    _exit(sig);
}

// What the child gets back before it executes the application: the start mask
// and the start dispositions wherever the launcher's differ from them.
struct StartState {
    sigset_t mask;
    std::array<int, kForwardedSignals.size() + 1> sigs;
    std::array<struct sigaction, kForwardedSignals.size() + 1> actions;
    size_t restores = 0;
};

// Signal masks of the launcher: its own while no child is being started, and its
// own with the forwarded signals blocked while one is.
struct Masks {
    sigset_t own;
    sigset_t starting;
};

Masks install_forwarding(StartState *start) {
    sigprocmask(SIG_BLOCK, nullptr, &start->mask);
    struct sigaction action = {};
    action.sa_handler = forward_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kForwardedSignals) {
        start->sigs[start->restores] = sig;
        sigaction(sig, &action, &start->actions[start->restores++]);
    }
    // An inherited SIGCHLD ignore would let the kernel reap the child behind our
    // back: the wait would fail.
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGCHLD, &dfl, &start->actions[start->restores]);
    if (start->actions[start->restores].sa_handler != SIG_DFL)
        start->sigs[start->restores++] = SIGCHLD;

    Masks masks;
    masks.own = start->mask;
    // A block inherited from whoever started us would keep the signals pending
    // for ever: never passed on, never ending the launcher.
    for (int sig : kForwardedSignals) sigdelset(&masks.own, sig);
    // A reader of standard output that goes away must not end the launcher and
    // leave the application running unsupervised: the write fails instead. Blocked
    // rather than ignored, the application gets the start disposition by itself.
    sigaddset(&masks.own, SIGPIPE);
    masks.starting = masks.own;
    for (int sig : kForwardedSignals) sigaddset(&masks.starting, sig);
    sigprocmask(SIG_SETMASK, &masks.own, nullptr);
    return masks;
}

// One start of the application. The child writes exec_errno, which the launcher
// reads once the child has executed the application or ended.
struct Launch {
    const StartState *start;
    char *exec_path;
    char **args;
    int exec_errno;
};

// The child shares the launcher's memory until it executes the application or
// ends, and the launcher is suspended meanwhile: it makes system calls only,
// leaving stdio and the heap as they are.
int run_child(void *arg) {
    Launch &launch = *static_cast<Launch *>(arg);
    const StartState &start = *launch.start;
    // Still under the launcher's block: put back the start dispositions first, so a
    // signal pending now acts on the application as it would have on the launcher.
    for (size_t i = 0; i < start.restores; ++i)
        sigaction(start.sigs[i], &start.actions[i], nullptr);
    sigprocmask(SIG_SETMASK, &start.mask, nullptr);
    execv(launch.exec_path, launch.args);
    launch.exec_errno = errno;
    _exit(1);
}

// Starts the child without copying the launcher's memory: clone returns once the
// child has executed the application or ended. Returns its pid, or -1.
pid_t spawn(Launch *launch) {
    alignas(16) char stack[kChildStackBytes];
    launch->exec_errno = 0;
    return clone(run_child, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, launch);
}
} // namespace

int main(int argc, char **argv) {
    zt_path_t name;
    zt_path_from_wide(&name, L"Vantle");
    zt_install_set_app_name(&name);

    StartState start;
    const Masks masks = install_forwarding(&start);

    char exec_path[kExecPathBytes];
    std::array<char *, kArgSlots> args{};
    args[0] = exec_path;
    Launch launch = {&start, exec_path, args.data(), 0};
    bool first_launch = true;

    for (;;) {
        if (zt_install_find_app_utf8(exec_path, sizeof exec_path) != 0) return 1;
        args[1] = nullptr;
        if (first_launch && argc <= kMaxForwardedArgc) {
            for (int i = 1; i < argc; ++i) args[i] = argv[i];
        }

        // A signal landing before child_pid names the new child is held back and
        // then passed on to it.
        sigprocmask(SIG_SETMASK, &masks.starting, nullptr);
        const pid_t pid = spawn(&launch);
        if (pid > 0) child_pid = pid;
        sigprocmask(SIG_SETMASK, &masks.own, nullptr);
        if (pid < 0) return 1;
        if (launch.exec_errno != 0) {
            printf("Failed to exec (%d %s)\n", launch.exec_errno, strerror(launch.exec_errno));
            fflush(stdout);
        }

        int status = 0;
        pid_t result;
        while ((result = waitpid(pid, &status, 0)) == -1) {
            const int err = errno;
            printf("waitpid() returned -1 (errno=%d)\n", err);
            fflush(stdout);
            if (err != EINTR) break;
        }
        child_pid = 0;
        if (result == -1) return 0;
        const int exit_byte = (status >> 8) & 0xFF;
        printf("waitpid() returned %d, pid was %d, exit status was %d\n", static_cast<int>(result),
               static_cast<int>(pid), exit_byte);
        fflush(stdout);
        if (exit_byte != kRestartStatus) return 0;
        first_launch = false;
    }
}
