#ifndef ZTC_OS_THREAD_H
#define ZTC_OS_THREAD_H

#include <pthread.h>
#include <stdbool.h>
#include <stdint.h>

#include "base/ztc/error.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its public names are exported. */
#pragma GCC visibility push(default)

/* Threading types. */
enum { ZT_THREAD_TYPE_RAW = 0, ZT_THREAD_TYPE_PREFORK = 1, ZT_THREAD_TYPE_DEMAND = 2 };

/* An exit hook; its result is ignored. */
typedef int (*zt_thread_hook_fn)(void *data);

typedef struct zt_thread_hook {
    zt_thread_hook_fn fn;
    void *data;
    struct zt_thread_hook *next; /* the hook registered before this one */
} zt_thread_hook;

/* Entry i of the thread table describes the thread whose debug number is i. */
typedef struct zt_thread_entry {
    pthread_t thread;
    zt_thread_hook *hooks; /* newest first */
} zt_thread_entry;

extern int zt_thread_type;
extern zt_thread_entry *zt_thread_table;
extern int zt_thread_count;

uint64_t zt_thread_self(void);
bool zt_thread_is_foreign(void);
/* Exit-hook registration, for the threading type in use (ERROR_UNKNOWN for another type).
 * Results: ERROR_SUCCESS; ERROR_OUT_OF_MEMORY when no hook record could be allocated;
 * ERROR_INVALID_ARGUMENT for a null function (nothing is registered or reported), and under
 * the prefork and demand types for a thread outside the thread table. */
error_code_t zt_thread_atexit(zt_thread_hook_fn fn, void *data);
error_code_t zt_thread_raw_atexit(zt_thread_hook_fn fn, void *data);
error_code_t zt_thread_prefork_atexit(zt_thread_hook_fn fn, void *data);
error_code_t zt_thread_demand_atexit(zt_thread_hook_fn fn, void *data);
/* Runs a hook list newest first and frees its records; the thread facility calls it for a
   table thread that ends. */
void zt_thread_run_hooks(void *head);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
