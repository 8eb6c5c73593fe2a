#ifndef ZTC_TIME_TIME_H
#define ZTC_TIME_TIME_H

#include <stddef.h>
#include <stdint.h>
#include <sys/time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Clock ticks: a time point or a duration. */
typedef int64_t zt_time_t;

/* Ticks per microsecond. */
extern int64_t time_internal_clock_mhz;
/* The current time; replaceable (tests fix "now" through it). */
extern zt_time_t (*time_internal_clock_source)(void);

zt_time_t zt_time_now(void);
zt_time_t time_internal_read_monotonic(void);
void time_internal_debug_time(struct timeval *tv);

/* Extension formatters over a zt_time_t. */
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

#ifdef __cplusplus
}
#endif

#endif
