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

#define DEBUG_MODULE_COUNT 64

/* Output types. */
enum {
    DEBUG_OUTPUT_TEXT = 0,
    DEBUG_OUTPUT_BINARY = 1,
    DEBUG_OUTPUT_EXTERNAL = 2
};

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

extern int debug_max_runtime_level;
extern void (*debug_get_time_function)(struct timeval *tv);
extern const char *debug_type_strings[DEBUG_MODULE_COUNT];
extern debug_output_t debug_output_stderr;

int debug_print(debug_output_t *output, int module, int level, const char *file, int line,
                const char *function, const char *fmt, ...);
bool debug_level_enabled(const debug_output_t *output, int module, int level);
int debug_get_thread_num(void);

#ifdef __cplusplus
}
#endif

#endif
