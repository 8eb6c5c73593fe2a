// The application the launcher tests install into slots. It records how it was
// started and then does what the line of its slot's plan for this run says.
//
// Record (appended to $VANTLE_FIXTURE_LOG, one write per run):
//   run <pid> <slot>, argc <n>, arg <text> per argument, sigblk <hex>, sigign <hex>
// Plan (<slot dir>/plan, line k for the k-th run, the last line repeating), tokens:
//   hint=N     write a valid boot hint for slot N
//   corrupt    write a boot hint whose check does not match
//   rmhint     remove the boot hint
//   fifohint   replace the boot hint with a FIFO
//   wait       note "waiting", then end with status 0 on SIGTERM/SIGINT, noting it
//   raise=N    send itself signal N
//   exit=N     the exit status (0 when absent)
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char *log_path = nullptr;

void append_log(const std::string &text) {
    if (log_path == nullptr) return;
    const int fd = open(log_path, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) return;
    if (write(fd, text.data(), text.size()) < 0) perror("fixture: log");
    close(fd);
}

std::string dir_of(const std::string &path) {
    const auto cut = path.rfind('/');
    return cut == std::string::npos ? "." : path.substr(0, cut);
}

std::string status_field(const char *name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name, 0) == 0)
            return line.substr(line.find_first_not_of(" \t", strlen(name)));
    }
    return "?";
}

// Counts this slot's runs so far, so each run takes its own plan line.
int next_run(const std::string &slot_dir) {
    const std::string path = slot_dir + "/runs";
    int runs = 0;
    std::ifstream(path) >> runs;
    std::ofstream(path, std::ios::trunc) << runs + 1;
    return runs;
}

std::string plan_line(const std::string &slot_dir, int run) {
    std::ifstream plan(slot_dir + "/plan");
    std::string line, last;
    for (int i = 0; std::getline(plan, line); ++i) {
        last = line;
        if (i == run) break;
    }
    return last;
}

void write_hint(const std::string &path, int32_t slot, uint32_t check) {
    unlink(path.c_str());
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    fwrite(&slot, sizeof slot, 1, f);
    fwrite(&check, sizeof check, 1, f);
    fclose(f);
}

extern "C" void on_signal(int sig) {
    char note[32];
    const int n = snprintf(note, sizeof note, "signal %d\n", sig);
    const int fd = open(log_path, O_WRONLY | O_APPEND);
    if (fd >= 0) {
        if (write(fd, note, static_cast<size_t>(n)) < 0) _exit(3);
        close(fd);
    }
    _exit(0);
}

void wait_for_signal() {
    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);
    append_log("waiting\n");
    alarm(30); // never outlive a test that forgot it
    for (;;) pause();
}

} // namespace

int main(int argc, char **argv) {
    log_path = getenv("VANTLE_FIXTURE_LOG");
    const std::string slot_dir = dir_of(argv[0]);
    const std::string hint_path = dir_of(slot_dir) + "/bhint.dat";

    std::ostringstream record;
    record << "run " << getpid() << ' ' << slot_dir.substr(slot_dir.rfind('/') + 1) << '\n'
           << "argc " << argc << '\n';
    for (int i = 0; i < argc; ++i) record << "arg " << argv[i] << '\n';
    record << "sigblk " << status_field("SigBlk:") << '\n'
           << "sigign " << status_field("SigIgn:") << '\n';
    append_log(record.str());

    std::istringstream plan(plan_line(slot_dir, next_run(slot_dir)));
    int status = 0;
    for (std::string token; plan >> token;) {
        const auto eq = token.find('=');
        const std::string verb = token.substr(0, eq);
        const int value = eq == std::string::npos ? 0 : atoi(token.c_str() + eq + 1);
        if (verb == "hint") write_hint(hint_path, value, ~static_cast<uint32_t>(value));
        if (verb == "corrupt") write_hint(hint_path, 3, 0);
        if (verb == "rmhint") unlink(hint_path.c_str());
        if (verb == "fifohint") {
            unlink(hint_path.c_str());
            mkfifo(hint_path.c_str(), 0644);
        }
        if (verb == "wait") wait_for_signal();
        if (verb == "raise") raise(value);
        if (verb == "exit") status = value;
    }
    return status;
}
