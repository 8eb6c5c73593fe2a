#include "tools/cli.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "base/ztc/version.h"

namespace cli {
namespace {

const option *find_long(const option *longopts, int val) {
    for (const option *o = longopts; o->name != nullptr; ++o)
        if (o->flag == nullptr && o->val == val) return o;
    return nullptr;
}

} // namespace

void reserve_standard_fds() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // Opened the wrong way round: reads of 0 and writes of 1 and 2 fail.
        const int spare = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (spare >= 0 && spare != fd) {
            dup2(spare, fd);
            close(spare);
        }
    }
}

int usage_error(const char *program, const char *format, ...) {
    std::fprintf(stderr, "%s: ", program);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\nTry '%s --help'.\n", program);
    return usage_status;
}

int option_error(const char *program, int result, const option *longopts, char *const argv[]) {
    const char *arg = optind > 0 ? argv[optind - 1] : "";
    const bool was_long = arg != nullptr && std::strncmp(arg, "--", 2) == 0;
    const option *o = optopt != 0 ? find_long(longopts, optopt) : nullptr;
    if (result == ':') {
        if (was_long && o != nullptr)
            return usage_error(program, "option '--%s' needs a value", o->name);
        return usage_error(program, "option '-%c' needs a value", optopt);
    }
    // An option getopt knows can only fail as a long option given a value it takes none of.
    if (o != nullptr && was_long)
        return usage_error(program, "option '--%s' takes no value", o->name);
    if (optopt != 0 && optopt < 256) return usage_error(program, "unknown option '-%c'", optopt);
    return usage_error(program, "unknown or ambiguous option '%s'", arg);
}

void print_version(const char *program) {
    std::printf("%s %s\n", program, ZTC_VERSION_STRING);
}

bool flush_stdout(const char *program) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int err = errno;
    if (flushed && !std::ferror(stdout)) return true;
    if (err != 0)
        std::fprintf(stderr, "%s: cannot write standard output: %s\n", program, std::strerror(err));
    else
        std::fprintf(stderr, "%s: cannot write standard output\n", program);
    return false;
}

int finish(const char *program, int status) {
    return flush_stdout(program) ? status : 1;
}

} // namespace cli
