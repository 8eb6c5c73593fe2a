#ifndef ZTC_TIME_TIME_H
#define ZTC_TIME_TIME_H

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its public names are exported. */
#pragma GCC visibility push(default)

/* Clock ticks: a time point or a duration. */
typedef int64_t zt_time_t;

/* Ticks per microsecond, 1000 at start (a tick is a nanosecond); must be positive. */
extern int64_t time_internal_clock_mhz;
/* The current time; replaceable (tests fix "now" through it). */
extern zt_time_t (*time_internal_clock_source)(void);

/* One call through time_internal_clock_source. */
zt_time_t zt_time_now(void);
/* CLOCK_MONOTONIC in ticks: the default clock source. A reading that would not fit in 64 bits
 * (only at enormous rates) gives INT64_MAX. */
zt_time_t time_internal_read_monotonic(void);
/* zt_time_now() as seconds and microseconds (from the monotonic origin, not the epoch). */
void time_internal_debug_time(struct timeval *tv);

/* Extension formatters over a zt_time_t (value points to one). Each writes a NUL-terminated
 * text cut to size. With size 0 nothing is written; the compact, worded and distance texts
 * then return 0 without reading the clock.
 *
 * zt_dur_us/_ms/_secs/_mins: the count of one unit, truncated toward zero ("-1ms").
 * zt_dur, zt_time: compact text ("1.23ms", "1:01:01", "1d 01:01").
 * zt_dur_pretty: worded text ("1 minute and 1 second", "zero", "minus 1.23 seconds").
 * zt_time_pretty: worded text, "at the beginning of time" for 0, negative values end in
 *     " before the beginning of time".
 * zt_reltime, zt_reltime_pretty: the distance from zt_time_now() with " ago" or " hence" (cut,
 *     not dropped, in a short buffer), or "now"; they return the length of the text in buf.
 *     The others return the length of the complete text.
 *
 * The most negative zt_time_t prints as its exact magnitude, 2^63 ticks, with the sign: at
 * 1000 ticks per microsecond "-106751d 23:47" and "minus 292 years".
 * A null value pointer gives "(null)". A tick rate of 0 or below is outside the clock's domain: the
 * text is "bad clock rate". */
int zt_printf_cb_zt_dur_us(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_dur_ms(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_dur_secs(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_dur_mins(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_dur(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_time(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_reltime(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_dur_pretty(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_time_pretty(const void *value, char *buf, size_t size);
int zt_printf_cb_zt_reltime_pretty(const void *value, char *buf, size_t size);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
