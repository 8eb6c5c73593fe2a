// Linked against the plain libztc.a with -pthread only: the start-up must have run before main.
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "base/ztc/debug/debug.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/time/time.h"

static void *ask_number(void *out) {
    *static_cast<int *>(out) = debug_get_thread_num();
    return nullptr;
}

int main() {
    // Another thread asks first: had start-up not fixed the initial thread at -1, the first
    // thread to ask would be taken for the initial one.
    int worker = -2;
    pthread_t t;
    if (pthread_create(&t, nullptr, ask_number, &worker) != 0) return 2;
    pthread_join(t, nullptr);
    int initial = debug_get_thread_num();
    if (worker != 0 || initial != -1) {
        fprintf(stderr, "start-up did not run: worker %d, initial thread %d\n", worker, initial);
        return 1;
    }
    // The standard extensions were registered, in their order, before the numbering.
    const error_code_t code = ERROR_OUT_OF_MEMORY;
    zt_time_t ticks = 1234567;
    char text[64];
    zt_snprintf(text, sizeof text, "%p{error} %p{zt_reltime_pretty}", &code, &ticks);
    if (strncmp(text, "[4]Out of memory ", 17) != 0 || strstr(text, "{") != nullptr) {
        fprintf(stderr, "standard extensions missing: %s\n", text);
        return 1;
    }
    return 0;
}
