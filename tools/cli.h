// What the command-line tools share: getopt_long error messages, usage errors,
// --version, and the checks that keep them from claiming output they never wrote.
#ifndef VANTLE_TOOLS_CLI_H
#define VANTLE_TOOLS_CLI_H

#include <getopt.h>

namespace cli {

// Status of a command line the tool does not accept.
inline constexpr int usage_status = 2;

// Occupies the standard descriptors that the tool was started without, so that no
// file it opens becomes "standard output" and takes its lines; writes to an
// occupied slot still fail, as they would have on the closed descriptor.
void reserve_standard_fds();

// Prints "<program>: <message>" and "Try '<program> --help'." on standard error;
// returns usage_status.
[[gnu::format(printf, 2, 3)]] int usage_error(const char *program, const char *format, ...);

// The usage error for what getopt_long (called with opterr = 0 and a short-option
// string that starts with ':') returned as '?' or ':'.
int option_error(const char *program, int result, const option *longopts, char *const argv[]);

void print_version(const char *program);

// Flushes standard output. On failure prints why on standard error and returns
// false; a reader that went away ends the process through SIGPIPE first, unless
// the tool was started with SIGPIPE ignored.
bool flush_stdout(const char *program);

// The exit status after all output: status, or 1 when standard output failed.
int finish(const char *program, int status);

} // namespace cli

#endif
