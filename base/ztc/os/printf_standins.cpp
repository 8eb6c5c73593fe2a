// Stand-ins for the debug print and the thread operations, until those land.
#include <cstdio>

#include "base/ztc/debug/debug.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/thread.h"

extern "C" {

int debug_max_runtime_level = 3;

int debug_print(debug_output_t *, int, int, const char *file, int line, const char *function,
                const char *fmt, ...) {
    char message[1024];
    va_list ap;
    va_start(ap, fmt);
    zt_vsprintf(message, sizeof message, fmt, ap);
    va_end(ap);
    return fprintf(stderr, "%s:%d %s: %s\n", file, line, function, message);
}

bool zt_thread_is_foreign(void) {
    return true;
}

error_code_t zt_thread_atexit(zt_thread_hook_fn, void *) {
    return ERROR_NOT_SUPPORTED;
}
}
