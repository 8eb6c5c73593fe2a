// The engine's per-thread memory: three thread-specific values, allocated on
// a thread's first use and released when the thread ends.
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/ztc/debug/debug.h"
#include "base/ztc/os/printf/internal.hpp"
#include "base/ztc/os/thread.h"

namespace ztc::printf_engine {
namespace {

pthread_once_t keys_once = PTHREAD_ONCE_INIT;
pthread_key_t recursion_key;
pthread_key_t args_key;
pthread_key_t mbs_key;

void forget_cached(const void *value) {
    if (thread_values.recursion_count == value) thread_values.recursion_count = nullptr;
    if (thread_values.arg_tables == value) thread_values.arg_tables = nullptr;
    if (thread_values.mbs_slots == value) thread_values.mbs_slots = nullptr;
}

// Key destructor: releases a value of a thread that ends without having run
// an exit hook for it (every thread under the raw threading type).
void release_at_thread_end(void *value) {
    forget_cached(value);
    free(value);
}

void create_keys() {
    pthread_key_create(&recursion_key, release_at_thread_end);
    pthread_key_create(&args_key, release_at_thread_end);
    pthread_key_create(&mbs_key, release_at_thread_end);
}

// Exit hook: frees the calling thread's value of the key that `key` points at.
int release_thread_value(void *key) {
    const pthread_key_t k = *static_cast<pthread_key_t *>(key);
    void *value = pthread_getspecific(k);
    forget_cached(value);
    free(value);
    return pthread_setspecific(k, nullptr);
}

struct LostMemory {
    int line;
    const char *message;
};
constexpr LostMemory lost_recursion_count = {
    227, "event_error: Assert failed: recursion_count != NULL:"};
constexpr LostMemory lost_args = {241, "event_error: Assert failed: args != NULL:"};
constexpr LostMemory lost_mbsbuffer = {585, "event_error: Assert failed: mbsbuffer != NULL:"};

// Set while this thread reports lost memory. The report formats through the
// engine, which may need memory again; a second loss must not report again.
thread_local const char *reporting_loss = nullptr;

void write_stderr(const char *text) {
    size_t left = strlen(text);
    while (left > 0) {
        ssize_t written = write(STDERR_FILENO, text, left);
        if (written <= 0) return;
        text += written;
        left -= static_cast<size_t>(written);
    }
}

[[noreturn]] void report_lost_memory(const LostMemory &loss) {
    if (reporting_loss != nullptr) {
        // The report itself ran out of memory: say what failed without
        // formatting, then stop.
        write_stderr(reporting_loss);
        write_stderr("\n");
        abort();
    }
    reporting_loss = loss.message;
    if (debug_max_runtime_level > 0) {
        debug_print(nullptr, 49, 1, "base/ztc/os/printf", loss.line, "zt_vsprintf", "%s",
                    loss.message);
    }
    if (debug_max_runtime_level > 0) {
        debug_print(nullptr, 0, 1, "base/ztc/os/printf", loss.line, "zt_vsprintf", "%s",
                    "About to abort/crash due to assertion failure...");
    }
    abort();
}

void *fetch_thread_value(pthread_key_t &key, size_t bytes, const LostMemory &loss) {
    pthread_once(&keys_once, create_keys);
    if (void *value = pthread_getspecific(key)) return value;

    void *value = malloc(bytes);
    if (value == nullptr) report_lost_memory(loss);
    memset(value, 0, bytes);
    if (pthread_setspecific(key, value) != 0) {
        free(value);
        report_lost_memory(loss);
    }
    // Threads of a thread table release through their exit hooks; all others
    // through the key destructor.
    if (!zt_thread_is_foreign()) zt_thread_atexit(release_thread_value, &key);
    return value;
}

} // namespace

constinit thread_local ThreadValues thread_values{};

int32_t *fetch_recursion_count() {
    return thread_values.recursion_count = static_cast<int32_t *>(
               fetch_thread_value(recursion_key, sizeof(int32_t), lost_recursion_count));
}

Arg *fetch_arg_tables() {
    return thread_values.arg_tables = static_cast<Arg *>(fetch_thread_value(
               args_key, sizeof(Arg) * MAX_VARARG_COUNT * MAX_RECURSIVE_CALLS, lost_args));
}

MbsSlot *fetch_mbs_slots() {
    return thread_values.mbs_slots = static_cast<MbsSlot *>(
               fetch_thread_value(mbs_key, sizeof(MbsSlot) * MAX_RECURSIVE_CALLS, lost_mbsbuffer));
}

} // namespace ztc::printf_engine
