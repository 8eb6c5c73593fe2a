#ifndef ZTC_DEBUG_DEBUG_H
#define ZTC_DEBUG_DEBUG_H

#include <pthread.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#include "base/ztc/error.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its public names are exported. */
#pragma GCC visibility push(default)

#define DEBUG_MODULE_COUNT 64

/* Output types. */
enum { DEBUG_OUTPUT_TEXT = 0, DEBUG_OUTPUT_BINARY = 1, DEBUG_OUTPUT_EXTERNAL = 2 };

/* Returns the bytes accepted, 0 or less when none. */
typedef int (*debug_write_cb)(intptr_t user, const void *bytes, size_t len);
typedef void (*debug_external_cb)(intptr_t user, int thread_num, const char *thread_name,
                                  const struct timeval *tv, const char *time_text, int module,
                                  int level, const char *file, int line, const char *function,
                                  const char *message);

typedef struct debug_output {
    int id; /* selects the busy-mask bit, id modulo 32 */
    char name[128];
    int levels[DEBUG_MODULE_COUNT];
    int type;
    union {
        struct {
            char format[128];
            pthread_mutex_t lock;
            debug_write_cb write;
            intptr_t user;
        } text;
        struct {
            pthread_mutex_t lock;
            debug_write_cb write;
            intptr_t user;
        } binary;
        struct {
            debug_external_cb callback;
            intptr_t user;
        } external;
    } u;
    struct debug_output *next;
} debug_output_t;

#define DEBUG_THREAD_NUM_COUNT 100
#define DEBUG_THREAD_NAME_SIZE 128
/* Largest record or line a writer delivers, its terminating NUL included. */
#define DEBUG_BUFFER_SIZE 1024
/* Fixed part of a binary record; the three texts come on top. */
#define DEBUG_BINARY_FIXED_SIZE 48
#define DEBUG_BINARY_MAGIC 0xABADEB39u
#define DEBUG_BINARY_VERSION 2

extern int debug_max_runtime_level;
extern void (*debug_get_time_function)(struct timeval *tv);
extern const char *debug_type_strings[DEBUG_MODULE_COUNT];
extern debug_output_t debug_output_stderr;

/* Outputs served by a print to all outputs; change it with debug_output_add and
   debug_output_remove (outputs.h). Prints read it without debug_output_list_lock (recursive)
   for the level test; every delivery holds that lock around its output's lock. */
extern debug_output_t *debug_output_list;
extern pthread_mutex_t debug_output_list_lock;

/* Thread numbering: allocation is off (every thread but the initial one is 0) until
   switched on; names are indexed by thread number and written by the thread facility. */
extern uint32_t debug_thread_nums_enabled;
extern char debug_thread_names[DEBUG_THREAD_NUM_COUNT][DEBUG_THREAD_NAME_SIZE];
/* Non-zero: time texts are UTC calendar times instead of clock seconds. */
extern uint8_t debug_time_calendar;

int debug_print(debug_output_t *output, int module, int level, const char *file, int line,
                const char *function, const char *fmt, ...);
bool debug_level_enabled(const debug_output_t *output, int module, int level);
int debug_get_thread_num(void);

/* The writers; the print calls them for each output whose level admits the print. */
void debug_print_text(debug_output_t *output, int thread_num, const char *thread_name,
                      const char *time_text, int module, int level, const char *file, int line,
                      const char *function, const char *fmt, va_list ap);
void debug_print_binary(debug_output_t *output, int thread_num, const char *thread_name,
                        const struct timeval *tv, int module, int level, const char *file, int line,
                        const char *function, const char *fmt, va_list ap);
void debug_print_external(debug_output_t *output, int thread_num, const char *thread_name,
                          const struct timeval *tv, const char *time_text, int module, int level,
                          const char *file, int line, const char *function, const char *fmt,
                          va_list ap);

/* Encodes one binary record; ERROR_OUT_OF_MEMORY when it does not fit the capacity. */
error_code_t debug_encode_binary(uint8_t *record, size_t capacity, size_t *length, int thread_num,
                                 int level, const struct timeval *tv, int module, const char *file,
                                 const char *function, int line, const char *text);

/* Write callback over a file descriptor given as user data. */
int debug_write_fd(intptr_t fd, const void *bytes, size_t len);

/* Print macros: ZT_DEBUG(module, level, format, ...) prints to every output,
   ZT_DEBUG_TO(output, module, level, format, ...) to one. Each is one statement. The level is
   compared with debug_max_runtime_level inline, so a print it filters makes no call and
   evaluates none of its arguments (the level once, whatever happens).

   The file text is ZT_DEBUG_SOURCE_FILE, __FILE__ unless defined before this header. A
   compiler gives __FILE__ as the path it was handed, which build tools make absolute; GCC 8
   and Clang 10 or later shorten it to the path relative to the project with
   -fmacro-prefix-map=<project root>/= (this project's build passes that for its own code). */
#ifndef ZT_DEBUG_SOURCE_FILE
#define ZT_DEBUG_SOURCE_FILE __FILE__
#endif
#if defined(__GNUC__)
#define ZT_DEBUG_RUNTIME_LEVEL_() __atomic_load_n(&debug_max_runtime_level, __ATOMIC_RELAXED)
#else
#define ZT_DEBUG_RUNTIME_LEVEL_() (debug_max_runtime_level)
#endif
#define ZT_DEBUG_TO(output, module, level, ...)                                                    \
    do {                                                                                           \
        const int zt_debug_level_ = (level);                                                       \
        if (ZT_DEBUG_RUNTIME_LEVEL_() >= zt_debug_level_)                                          \
            debug_print((output), (module), zt_debug_level_, ZT_DEBUG_SOURCE_FILE, __LINE__,       \
                        __func__, __VA_ARGS__);                                                    \
    } while (0)
#define ZT_DEBUG(module, level, ...) ZT_DEBUG_TO(NULL, module, level, __VA_ARGS__)

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
