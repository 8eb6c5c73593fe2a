// The debug print: level test, thread number, time stamp, then each output that wants it.
#include <errno.h>
#include <string.h>
#include <time.h>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/writers.hpp"
#include "base/ztc/time/time.h"

extern "C" {
int debug_max_runtime_level = 3;
void (*debug_get_time_function)(struct timeval *tv) = time_internal_debug_time;
uint8_t debug_time_calendar = 0;
}

namespace {
constexpr size_t kTimeTextSize = 256;

// The decimal digits of value, at least min_digits of them (leading zeros);
// returns the end.
char *put_decimal(char *out, unsigned long value, long min_digits) {
    char digits[24];
    char *const end = digits + sizeof digits;
    char *first = ztc::printf_engine::decimal_digits(end, value);
    while (end - first < min_digits) *--first = '0';
    const size_t n = static_cast<size_t>(end - first);
    memcpy(out, first, n);
    return out + n;
}

void format_time_text(const struct timeval &tv, char (&text)[kTimeTextSize]) {
    if (!debug_time_calendar) {
        // "%09lu.%06lu", written directly: every line carries one. The usual
        // stamp (seconds below 10^9, microseconds below 10^6) has a fixed
        // shape: "sssssssss.uuuuuu".
        using ztc::printf_engine::eight_digits;
        const auto secs = static_cast<unsigned long>(tv.tv_sec);
        const auto usecs = static_cast<unsigned long>(tv.tv_usec);
        if (secs < 1000000000 && usecs < 1000000) {
            text[0] = static_cast<char>('0' + secs / 100000000);
            eight_digits(text + 9, static_cast<uint32_t>(secs % 100000000));
            text[9] = '.';
            // Six digits: the last eight of the number, past its two leading zeros.
            char micro[8];
            eight_digits(micro + 8, static_cast<uint32_t>(usecs));
            memcpy(text + 10, micro + 2, 6);
            text[16] = '\0';
            return;
        }
        char *end = put_decimal(text, secs, 9);
        *end++ = '.';
        end = put_decimal(end, usecs, 6);
        *end = '\0';
        return;
    }
    time_t secs = tv.tv_sec;
    struct tm utc {};
    char calendar[kTimeTextSize] = "";
    if (gmtime_r(&secs, &utc) != nullptr)
        strftime(calendar, sizeof calendar, "%Y-%m-%d %H:%M:%S", &utc);
    zt_snprintf(text, sizeof text, "%s.%06lu", calendar, static_cast<unsigned long>(tv.tv_usec));
}

struct PrintContext {
    int thread_num;
    const char *thread_name;
    const struct timeval *tv;
    const char *time_text;
    int module;
    int level;
    const char *file;
    int line;
    const char *function;
    const char *fmt;
};

void serve(debug_output_t *output, const PrintContext &p, va_list ap) {
    switch (output->type) {
    case DEBUG_OUTPUT_TEXT:
        debug_print_text(output, p.thread_num, p.thread_name, p.time_text, p.module, p.level,
                         p.file, p.line, p.function, p.fmt, ap);
        break;
    case DEBUG_OUTPUT_BINARY:
        debug_print_binary(output, p.thread_num, p.thread_name, p.tv, p.module, p.level, p.file,
                           p.line, p.function, p.fmt, ap);
        break;
    case DEBUG_OUTPUT_EXTERNAL:
        debug_print_external(output, p.thread_num, p.thread_name, p.tv, p.time_text, p.module,
                             p.level, p.file, p.line, p.function, p.fmt, ap);
        break;
    default:
        return;
    }
    // Errors and warnings reach a file at once, with the lines buffered before them.
    if (p.level <= ztc::debug::kFlushLevel) ztc::debug::flush_if_file(output);
}

bool wants(const debug_output_t *output, size_t module, int level) {
    return __atomic_load_n(&output->levels[module], __ATOMIC_RELAXED) >= level;
}

debug_output_t *list_head() {
    return __atomic_load_n(&debug_output_list, __ATOMIC_ACQUIRE);
}
debug_output_t *list_next(const debug_output_t *o) {
    return __atomic_load_n(&o->next, __ATOMIC_ACQUIRE);
}

// Without the list lock: removal waits until this walk has left the record it unlinks. The
// reader is the inline one once the thread's slot allows it, the general one before.
template <class Reader>
[[gnu::always_inline]] inline bool list_wants(size_t module, int level) {
    Reader reader;
    for (const debug_output_t *o = list_head(); o != nullptr; o = list_next(o))
        if (wants(o, module, level)) return true;
    return false;
}

[[gnu::always_inline]] inline bool level_enabled(const debug_output_t *output, int module,
                                                 int level) {
    if (!ztc::debug::module_in_range(module)) return false;
    if (output != nullptr) return wants(output, module, level);
    if (__builtin_expect(ztc::debug::fast_reader_slot != nullptr, 1))
        return list_wants<ztc::debug::FastReader>(module, level);
    return list_wants<ztc::debug::ListReader>(module, level);
}
} // namespace

extern "C" bool debug_level_enabled(const debug_output_t *output, int module, int level) {
    return level_enabled(output, module, level);
}

namespace {
// Everything after the level test; kept out of debug_print so that a print no
// output wants pays for the test alone, not for this frame.
[[gnu::noinline]] void print_wanted(debug_output_t *output, int module, int level, const char *file,
                                    int line, const char *function, const char *fmt, va_list ap) {
    int saved_errno = errno;
    int thread_num = debug_get_thread_num();
    // An entry is written by the thread facility and need not end in a NUL
    // within its bytes: the print reads a copy that does.
    char thread_name[DEBUG_THREAD_NAME_SIZE + 1];
    thread_name[0] = '\0';
    if (thread_num >= 0 && thread_num < DEBUG_THREAD_NUM_COUNT &&
        module != ztc::debug::kModuleTag) {
        const char *entry = debug_thread_names[thread_num];
        const size_t length = strnlen(entry, DEBUG_THREAD_NAME_SIZE);
        memcpy(thread_name, entry, length);
        thread_name[length] = '\0';
    }

    struct timeval tv {};
    // A program may clear the public pointer; its prints then carry a zero stamp.
    if (auto clock = debug_get_time_function; clock != nullptr) clock(&tv);
    char time_text[kTimeTextSize];
    format_time_text(tv, time_text);

    PrintContext p{thread_num, thread_name, &tv,  time_text, module,
                   level,      file,        line, function,  fmt};
    if (output != nullptr) {
        errno = saved_errno;
        if (wants(output, module, level)) {
            va_list copy;
            va_copy(copy, ap);
            serve(output, p, copy);
            va_end(copy);
        }
    } else {
        pthread_mutex_lock(&debug_output_list_lock);
        for (debug_output_t *o = list_head(); o != nullptr; o = list_next(o)) {
            errno = saved_errno;
            if (!wants(o, module, level)) continue;
            va_list copy;
            va_copy(copy, ap);
            serve(o, p, copy);
            va_end(copy);
        }
        pthread_mutex_unlock(&debug_output_list_lock);
    }
}

// A thread's first print to all outputs, or any while readers fence: kept out of
// debug_print, whose common path then needs no saved registers. It takes print_wanted's
// arguments so that both calls find them in the same registers.
[[gnu::noinline, gnu::cold]] void print_to_all_slow(debug_output_t *output, int module, int level,
                                                    const char *file, int line,
                                                    const char *function, const char *fmt,
                                                    va_list ap) {
    if (list_wants<ztc::debug::ListReader>(module, level))
        print_wanted(output, module, level, file, line, function, fmt, ap);
}
} // namespace

// Aligned to a cache line: where the level test's loop straddled a fetch
// block, the print no output wants took twice as long.
extern "C" [[gnu::aligned(64)]] int debug_print(debug_output_t *output, int module, int level,
                                                const char *file, int line, const char *function,
                                                const char *fmt, ...) {
    if (!ztc::debug::module_in_range(module)) return 0;
    // The module widened in place: the walk indexes with it and needs no register more.
    const size_t m = static_cast<unsigned>(module);
    va_list ap;
    if (output != nullptr) {
        if (!wants(output, m, level)) return 0;
    } else if (__builtin_expect(ztc::debug::fast_reader_slot == nullptr, 0)) {
        va_start(ap, fmt);
        print_to_all_slow(output, static_cast<int>(m), level, file, line, function, fmt, ap);
        va_end(ap);
        return 0;
    } else if (!list_wants<ztc::debug::FastReader>(m, level)) {
        return 0;
    }
    va_start(ap, fmt);
    print_wanted(output, static_cast<int>(m), level, file, line, function, fmt, ap);
    va_end(ap);
    return 0;
}
