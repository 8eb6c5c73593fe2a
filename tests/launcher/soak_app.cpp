// The application of the launcher's soak tests. Each run counts itself in
// $SOAK_DIR/count and asks for a restart until $SOAK_RESTARTS runs have been made.
// At a few runs it samples its parent (the launcher): open descriptors, resident
// memory and children. With $SOAK_STORM set it notes SIGTERM/SIGINT and lingers a
// moment, so that signals land both while it runs and between runs.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string dir;

void note(const std::string &line) {
    const int fd = open((dir + "/log").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) return;
    if (write(fd, line.data(), line.size()) < 0) std::perror("soak app");
    close(fd);
}

extern "C" void on_signal(int sig) {
    char line[64];
    const int n =
        std::snprintf(line, sizeof line, "signal %d %d\n", sig, static_cast<int>(getpid()));
    const int fd = open((dir + "/log").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd >= 0) {
        if (write(fd, line, static_cast<size_t>(n)) < 0) _exit(3);
        close(fd);
    }
}

int count_fds(pid_t pid) {
    DIR *d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (d == nullptr) return -1;
    int n = 0;
    while (const dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

std::string rss_kb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::to_string(std::atol(line.c_str() + 6));
    return "-1";
}

std::string children(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::string text;
    std::getline(f, text);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

} // namespace

int main() {
    const char *d = std::getenv("SOAK_DIR");
    const char *r = std::getenv("SOAK_RESTARTS");
    if (d == nullptr || r == nullptr) return 2;
    dir = d;
    const int restarts = std::atoi(r);
    const bool storm = std::getenv("SOAK_STORM") != nullptr;
    if (storm) {
        std::signal(SIGTERM, on_signal);
        std::signal(SIGINT, on_signal);
    }

    int run = 0;
    std::ifstream(dir + "/count") >> run;
    std::ofstream(dir + "/count", std::ios::trunc) << run + 1;

    const pid_t parent = getppid();
    if (run == 50 || run == restarts - 1) {
        std::ostringstream s;
        s << "sample " << run << " fds " << count_fds(parent) << " rss " << rss_kb(parent)
          << " children " << children(parent) << " self " << getpid() << "\n";
        note(s.str());
    }
    if (storm) usleep(3000);
    return run + 1 < restarts ? 42 : 0;
}
