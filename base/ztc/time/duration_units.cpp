// Durations as a whole number of one unit: "zt_dur_us", "zt_dur_ms", "zt_dur_secs", "zt_dur_mins".
#include <cstdio>
#include <cstring>

#include "base/ztc/extensions/null_value.hpp"
#include "base/ztc/time/tick_parts.hpp"
#include "base/ztc/time/time.h"
#include "base/ztc/time/time_text.hpp"

namespace {

// 128-bit arithmetic keeps the quotient exact (truncated toward zero) for every tick count
// and every positive rate, where unit times rate would overflow 64 bits.
int write_in_unit(const void *value, char *buf, size_t size, int64_t unit_us, const char *format) {
    const int64_t rate = time_internal_clock_mhz;
    if (!value) return ztc::write_null_value(buf, size);
    if (rate <= 0) return snprintf(buf, size, "%s", ztc::time::bad_rate_text);
    zt_time_t ticks;
    memcpy(&ticks, value, sizeof ticks);
    const __int128 count = __int128{ticks} / (__int128{unit_us} * rate);
    return snprintf(buf, size, format, static_cast<long>(count));
}

} // namespace

extern "C" {

int zt_printf_cb_zt_dur_us(const void *value, char *buf, size_t size) {
    return write_in_unit(value, buf, size, 1, "%ldus");
}

int zt_printf_cb_zt_dur_ms(const void *value, char *buf, size_t size) {
    return write_in_unit(value, buf, size, ztc::time::milli_us, "%ldms");
}

int zt_printf_cb_zt_dur_secs(const void *value, char *buf, size_t size) {
    return write_in_unit(value, buf, size, ztc::time::second_us, "%lds");
}

int zt_printf_cb_zt_dur_mins(const void *value, char *buf, size_t size) {
    return write_in_unit(value, buf, size, ztc::time::minute_us, "%ldmins");
}

} // extern "C"
