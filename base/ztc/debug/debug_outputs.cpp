// The standard-error output, the output list it starts and the file-descriptor write callback.
#include <limits.h>
#include <unistd.h>

#include "base/ztc/debug/debug_internal.hpp"

namespace {
constexpr char kStderrName[] = "standard error";
constexpr int kStderrLevel = 3;
constexpr intptr_t kStderrFd = 2;

template <size_t N, size_t M>
constexpr void copy_text(char (&to)[N], const char (&from)[M]) {
    static_assert(M <= N);
    for (size_t i = 0; i < M; ++i) to[i] = from[i];
}

constexpr debug_output_t make_stderr_output() {
    debug_output_t o{};
    o.id = 0;
    copy_text(o.name, kStderrName);
    for (int &level : o.levels) level = kStderrLevel;
    o.type = DEBUG_OUTPUT_TEXT;
    copy_text(o.u.text.format, ztc::debug::kStderrFormat);
    pthread_mutex_t plain = PTHREAD_MUTEX_INITIALIZER;
    o.u.text.lock = plain;
    o.u.text.write = debug_write_fd;
    o.u.text.user = kStderrFd;
    o.next = nullptr;
    return o;
}
} // namespace

extern "C" {
constinit debug_output_t debug_output_stderr = make_stderr_output();
constinit debug_output_t *debug_output_list = &debug_output_stderr;
pthread_mutex_t debug_output_list_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

int debug_write_fd(intptr_t fd, const void *bytes, size_t len) {
    // The result must fit the callback's int.
    if (len > static_cast<size_t>(INT_MAX)) len = static_cast<size_t>(INT_MAX);
    return static_cast<int>(write(static_cast<int>(fd), bytes, len));
}
}
