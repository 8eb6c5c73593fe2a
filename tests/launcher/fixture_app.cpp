// The application the launcher tests install into slots. It records how it was
// started and then does what the line of its slot's plan for this run says.
//
// Record (appended to $VANTLE_FIXTURE_LOG, one write per run):
//   run <pid> <SigBlk> <SigIgn>, arg <text> per argument; then its notes
// Plan (<slot dir>/plan, line k for the k-th run, the last line repeating), tokens:
//   hint=N     write a valid boot hint for slot N
//   rmhint     remove the boot hint
//   fifohint   replace the boot hint with a FIFO
//   sample     note the launcher's open descriptors, resident kB and children
//   linger     note SIGTERM/SIGINT as they come, for a few milliseconds
//   wait       note "waiting", then end with status 0 on SIGTERM/SIGINT, noting it
//   raise=N    send itself signal N
//   exit=N     the exit status (0 when absent)
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *log_path = "/dev/null";
volatile sig_atomic_t end_on_signal = 0;

void append_log(const std::string &text) {
    const int fd = open(log_path, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) return;
    if (write(fd, text.data(), text.size()) < 0) perror("fixture: log");
    close(fd);
}

std::string dir_of(const std::string &path) {
    const auto cut = path.rfind('/');
    return cut == std::string::npos ? "." : path.substr(0, cut);
}

// The first field of the line of a /proc status file that starts with name.
std::string status_field(const std::string &file, const char *name) {
    std::ifstream status(file);
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name, 0) == 0)
            return line.substr(line.find_first_not_of(" \t", strlen(name)));
    }
    return "?";
}

std::string sample_launcher() {
    const std::string proc = "/proc/" + std::to_string(getppid());
    const auto fds = std::distance(std::filesystem::directory_iterator(proc + "/fd"), {});
    std::string children;
    std::getline(std::ifstream(proc + "/task/" + std::to_string(getppid()) + "/children"),
                 children);
    while (!children.empty() && children.back() == ' ') children.pop_back();
    return "sample " + std::to_string(fds) + " " +
           std::to_string(atol(status_field(proc + "/status", "VmRSS:").c_str())) + " " + children +
           "\n";
}

// Counts this slot's runs so far, so each run takes its own plan line.
std::string plan_line(const std::string &slot_dir) {
    int run = 0;
    std::ifstream(slot_dir + "/runs") >> run;
    std::ofstream(slot_dir + "/runs", std::ios::trunc) << run + 1;
    std::ifstream plan(slot_dir + "/plan");
    std::string line, last;
    for (int i = 0; i <= run && std::getline(plan, line); ++i) last = line;
    return last;
}

void write_hint(const std::string &path, int32_t slot) {
    unlink(path.c_str());
    const uint32_t fields[2] = {static_cast<uint32_t>(slot), ~static_cast<uint32_t>(slot)};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(fields), 8);
}

// Installed for SIGTERM and SIGINT only.
extern "C" void on_signal(int sig) {
    const char *note = sig == SIGTERM ? "signal 15\n" : "signal 2\n";
    const int fd = open(log_path, O_WRONLY | O_APPEND);
    if (fd >= 0) {
        if (write(fd, note, strlen(note)) < 0) _exit(3);
        close(fd);
    }
    if (end_on_signal) _exit(0);
}

} // namespace

int main(int argc, char **argv) {
    if (const char *log = getenv("VANTLE_FIXTURE_LOG")) log_path = log;
    const std::string slot_dir = dir_of(argv[0]);
    const std::string hint_path = dir_of(slot_dir) + "/bhint.dat";

    std::ostringstream record;
    record << "run " << getpid() << ' ' << status_field("/proc/self/status", "SigBlk:") << ' '
           << status_field("/proc/self/status", "SigIgn:") << '\n';
    for (int i = 0; i < argc; ++i) record << "arg " << argv[i] << '\n';
    append_log(record.str());

    std::istringstream plan(plan_line(slot_dir));
    int status = 0;
    for (std::string token; plan >> token;) {
        const auto eq = token.find('=');
        const std::string verb = token.substr(0, eq);
        const int value = eq == std::string::npos ? 0 : atoi(token.c_str() + eq + 1);
        if (verb == "hint") write_hint(hint_path, value);
        if (verb == "rmhint") unlink(hint_path.c_str());
        if (verb == "fifohint") {
            unlink(hint_path.c_str());
            mkfifo(hint_path.c_str(), 0644);
        }
        if (verb == "sample") append_log(sample_launcher());
        if (verb == "linger" || verb == "wait") {
            end_on_signal = verb == "wait";
            signal(SIGTERM, on_signal);
            signal(SIGINT, on_signal);
        }
        if (verb == "linger") usleep(3000);
        if (verb == "wait") {
            append_log("waiting\n");
            alarm(30); // never outlive a test that forgot it
            for (;;) pause();
        }
        if (verb == "raise") raise(value);
        if (verb == "exit") status = value;
    }
    return status;
}
