#include "base/ztc/time/time.h"

#include <time.h>

extern "C" {

int64_t time_internal_clock_mhz = 1000;
zt_time_t (*time_internal_clock_source)(void) = time_internal_read_monotonic;

zt_time_t zt_time_now(void) {
    return time_internal_clock_source();
}

zt_time_t time_internal_read_monotonic(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const int64_t rate = time_internal_clock_mhz;
    // The default rate is nanoseconds: skip the multiply and divide.
    if (rate == 1000) return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
    return rate * int64_t{ts.tv_sec} * 1000000 + (rate * int64_t{ts.tv_nsec}) / 1000;
}

void time_internal_debug_time(struct timeval *tv) {
    if (!tv) return;
    const int64_t rate = time_internal_clock_mhz;
    // A non-positive rate is outside the clock's domain; give zero rather than divide by it.
    const int64_t micros = rate > 0 ? zt_time_now() / rate : 0;
    tv->tv_sec = static_cast<time_t>(micros / 1000000);
    tv->tv_usec = static_cast<suseconds_t>(micros % 1000000);
}

} // extern "C"
