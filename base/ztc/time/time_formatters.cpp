// The six extension formatters over a zt_time_t: compact, worded, and distance from now.
#include <cstdio>
#include <cstring>

#include "base/ztc/extensions/null_value.hpp"
#include "base/ztc/time/tick_parts.hpp"
#include "base/ztc/time/time.h"
#include "base/ztc/time/time_text.hpp"

namespace ztc::time {

size_t append_suffix(char *buf, size_t size, const char *suffix) {
    size_t at = strnlen(buf, size - 1);
    while (*suffix && at < size - 1) buf[at++] = *suffix++;
    buf[at] = '\0';
    return at;
}

namespace {

zt_time_t read_value(const void *value) {
    zt_time_t t;
    memcpy(&t, value, sizeof t);
    return t;
}

int write_bad_rate(char *buf, size_t size) {
    return snprintf(buf, size, "%s", bad_rate_text);
}

int compact(const void *value, char *buf, size_t size) {
    if (size == 0) return 0;
    if (!value) return write_null_value(buf, size);
    const zt_time_t t = read_value(value);
    const uint64_t rate = current_rate();
    if (rate == 0) return write_bad_rate(buf, size);
    if (t >= 0) return write_compact(magnitude(t), rate, buf, size);
    // The sign takes the first byte; the magnitude is cut to what is left.
    if (size == 1) {
        buf[0] = '\0';
        return 1 + write_compact(magnitude(t), rate, nullptr, 0);
    }
    buf[0] = '-';
    return 1 + write_compact(magnitude(t), rate, buf + 1, size - 1);
}

enum class distance_form { compact, worded };

// Every text of the distance formatters, also the fallbacks, reports the length left in buf.
int length_in(const char *buf) {
    return static_cast<int>(strlen(buf));
}

int distance_from_now(const void *value, char *buf, size_t size, distance_form form) {
    if (size == 0) return 0;
    if (!value) {
        write_null_value(buf, size);
        return length_in(buf);
    }
    const zt_time_t t = read_value(value);
    const zt_time_t now = zt_time_now();
    const uint64_t rate = current_rate();
    if (t == now || rate == 0) {
        snprintf(buf, size, "%s", t == now ? "now" : bad_rate_text);
        return length_in(buf);
    }
    // Unsigned difference: exact for any two time points.
    const bool past = t < now;
    const uint64_t distance = past ? static_cast<uint64_t>(now) - static_cast<uint64_t>(t)
                                   : static_cast<uint64_t>(t) - static_cast<uint64_t>(now);
    if (form == distance_form::compact)
        write_compact(distance, rate, buf, size);
    else
        write_worded("", distance, rate, buf, size);
    return static_cast<int>(append_suffix(buf, size, past ? " ago" : " hence"));
}

} // namespace
} // namespace ztc::time

using namespace ztc::time;

extern "C" {

int zt_printf_cb_zt_dur(const void *value, char *buf, size_t size) {
    return compact(value, buf, size);
}

int zt_printf_cb_zt_time(const void *value, char *buf, size_t size) {
    return compact(value, buf, size);
}

int zt_printf_cb_zt_reltime(const void *value, char *buf, size_t size) {
    return distance_from_now(value, buf, size, distance_form::compact);
}

int zt_printf_cb_zt_dur_pretty(const void *value, char *buf, size_t size) {
    if (size == 0) return 0;
    if (!value) return ztc::write_null_value(buf, size);
    const zt_time_t t = read_value(value);
    if (t == 0) return snprintf(buf, size, "zero");
    const uint64_t rate = current_rate();
    if (rate == 0) return write_bad_rate(buf, size);
    return write_worded(t < 0 ? "minus " : "", magnitude(t), rate, buf, size);
}

int zt_printf_cb_zt_reltime_pretty(const void *value, char *buf, size_t size) {
    return distance_from_now(value, buf, size, distance_form::worded);
}

int zt_printf_cb_zt_time_pretty(const void *value, char *buf, size_t size) {
    if (size == 0) return 0;
    if (!value) return ztc::write_null_value(buf, size);
    const zt_time_t t = read_value(value);
    if (t == 0) return snprintf(buf, size, "at the beginning of time");
    const uint64_t rate = current_rate();
    if (rate == 0) return write_bad_rate(buf, size);
    const int length = write_worded("", magnitude(t), rate, buf, size);
    if (t > 0) return length;
    static constexpr char before[] = " before the beginning of time";
    append_suffix(buf, size, before);
    return length + static_cast<int>(sizeof before - 1);
}

} // extern "C"
