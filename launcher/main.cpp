// The launch loop: start the hinted slot's application, pass on SIGTERM and SIGINT,
// and start it again for as long as it exits with the restart status.
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "launcher/install.h"

namespace {
constexpr int kRestartStatus = 42;
constexpr int kMaxForwardedArgc = 126;
constexpr size_t kArgSlots = 128;
constexpr size_t kExecPathBytes = 4096;
constexpr std::array kForwardedSignals = {SIGTERM, SIGINT};

// The live or not yet reaped child, 0 while there is none. Only the loop writes it,
// and only while the forwarded signals are blocked.
volatile sig_atomic_t child_pid = 0;

// Dispositions the launcher needs for itself, whatever it was started with.
struct OwnDisposition {
    int sig;
    bool ignore;
};
constexpr std::array kOwnDispositions = {
    // An inherited SIGCHLD ignore would let the kernel reap the child behind our
    // back: the wait would fail and child_pid would name a pid free for reuse.
    OwnDisposition{SIGCHLD, false},
    // A reader of standard output that goes away must not end the launcher and
    // leave the application running unsupervised.
    OwnDisposition{SIGPIPE, true},
};

// What the launcher was started with; the application gets exactly this back.
struct StartState {
    sigset_t mask;
    std::array<struct sigaction, kForwardedSignals.size()> actions;
    std::array<struct sigaction, kOwnDispositions.size()> own;
};

extern "C" void forward_signal(int sig) {
    const pid_t pid = child_pid;
    if (pid != 0) {
        const int saved = errno;
        kill(pid, sig);
        errno = saved;
        return;
    }
    // No child to pass it on to: end as the signal asks, without touching stdio.
    _exit(sig);
}

sigset_t forwarded_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kForwardedSignals) sigaddset(&set, sig);
    return set;
}

// Blocks the forwarded signals for its lifetime.
class SignalsHeld {
  public:
    SignalsHeld() {
        const sigset_t set = forwarded_set();
        sigprocmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

  private:
    sigset_t previous_;
};

StartState install_forwarding() {
    StartState start;
    sigprocmask(SIG_BLOCK, nullptr, &start.mask);
    struct sigaction action = {};
    action.sa_handler = forward_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kForwardedSignals.size(); ++i) {
        sigaction(kForwardedSignals[i], &action, &start.actions[i]);
    }
    for (size_t i = 0; i < kOwnDispositions.size(); ++i) {
        struct sigaction own = {};
        own.sa_handler = kOwnDispositions[i].ignore ? SIG_IGN : SIG_DFL;
        sigemptyset(&own.sa_mask);
        sigaction(kOwnDispositions[i].sig, &own, &start.own[i]);
    }
    // A block inherited from whoever started us would keep the signals pending
    // for ever: never passed on, never ending the launcher. The application
    // still gets the start mask.
    const sigset_t forwarded = forwarded_set();
    sigprocmask(SIG_UNBLOCK, &forwarded, nullptr);
    return start;
}

[[noreturn]] void run_child(const StartState &start, char *exec_path, int argc, char **argv,
                            bool pass_args) {
    // Still under the launcher's block: put back the start dispositions first, so a
    // signal pending now acts on the application as it would have on the launcher.
    for (size_t i = 0; i < kForwardedSignals.size(); ++i) {
        sigaction(kForwardedSignals[i], &start.actions[i], nullptr);
    }
    for (size_t i = 0; i < kOwnDispositions.size(); ++i) {
        sigaction(kOwnDispositions[i].sig, &start.own[i], nullptr);
    }
    sigprocmask(SIG_SETMASK, &start.mask, nullptr);

    std::array<char *, kArgSlots> args{};
    args[0] = exec_path;
    if (pass_args && argc <= kMaxForwardedArgc) {
        for (int i = 1; i < argc; ++i) args[i] = argv[i];
    }
    execv(exec_path, args.data());
    const int err = errno;
    printf("Failed to exec (%d %s)\n", err, strerror(err));
    fflush(stdout);
    _exit(1);
}

// Waits for the child to end without reaping it, so child_pid keeps naming a
// process that is ours. Returns false when the wait cannot go on.
bool wait_for_end(pid_t pid) {
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == -1) {
        const int err = errno;
        printf("waitpid() returned -1 (errno=%d)\n", err);
        fflush(stdout);
        if (err != EINTR) return false;
    }
    return true;
}

// Forgets and reaps the ended child. A signal that arrives meanwhile stays pending
// and, with no child left, ends the launcher once unblocked.
pid_t reap(pid_t pid, int *status) {
    SignalsHeld held;
    child_pid = 0;
    return waitpid(pid, status, 0);
}

void forget_child() {
    SignalsHeld held;
    child_pid = 0;
}
} // namespace

int main(int argc, char **argv) {
    zt_path_t name;
    zt_path_from_wide(&name, L"Vantle");
    zt_install_set_app_name(&name);

    const StartState start = install_forwarding();
    bool first_launch = true;

    for (;;) {
        char exec_path[kExecPathBytes];
        if (zt_install_find_app_utf8(exec_path, sizeof exec_path) != 0) return 1;

        fflush(stdout);
        pid_t pid;
        {
            // A signal landing before child_pid names the new child is held back
            // and then passed on to it.
            SignalsHeld held;
            pid = fork();
            if (pid == 0) run_child(start, exec_path, argc, argv, first_launch);
            if (pid > 0) child_pid = pid;
        }
        if (pid < 0) return 1;

        int status = 0;
        if (!wait_for_end(pid)) {
            forget_child();
            return 0;
        }
        const pid_t result = reap(pid, &status);
        if (result == -1) {
            printf("waitpid() returned -1 (errno=%d)\n", errno);
            fflush(stdout);
            return 0;
        }
        const int exit_byte = (status >> 8) & 0xFF;
        printf("waitpid() returned %d, pid was %d, exit status was %d\n", static_cast<int>(result),
               static_cast<int>(pid), exit_byte);
        fflush(stdout);
        if (exit_byte != kRestartStatus) return 0;
        first_launch = false;
    }
}
