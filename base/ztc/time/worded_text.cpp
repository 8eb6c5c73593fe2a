#include <cstdio>

#include "base/ztc/time/tick_parts.hpp"
#include "base/ztc/time/time_text.hpp"

namespace ztc::time {
namespace {

long as_long(uint64_t v) {
    return static_cast<long>(v);
}
const char *plural(uint64_t n) {
    return n == 1 ? "" : "s";
}

// "N unit" alone, or "N unit and M smaller" when the smaller count is not zero.
int write_pair(char *buf, size_t size, const char *prefix, uint64_t count, const char *unit,
               uint64_t smaller, const char *smaller_unit) {
    if (smaller == 0)
        return snprintf(buf, size, "%s%ld %s%s", prefix, as_long(count), unit, plural(count));
    return snprintf(buf, size, "%s%ld %s%s and %ld %s%s", prefix, as_long(count), unit,
                    plural(count), as_long(smaller), smaller_unit, plural(smaller));
}

int write_tenths(char *buf, size_t size, const char *prefix, uint64_t count, uint64_t rest,
                 uint64_t unit, const char *symbol) {
    return snprintf(buf, size, "%s%ld.%01ld%s", prefix, as_long(count),
                    as_long(fraction(rest, unit, 10)), symbol);
}

} // namespace

int write_worded(const char *prefix, uint64_t magnitude, uint64_t rate, char *buf, size_t size) {
    const tick_parts p = decompose(magnitude, rate);
    if (p.years >= 10) return write_pair(buf, size, prefix, p.years, "year", 0, "");
    if (p.years >= 1) return write_pair(buf, size, prefix, p.years, "year", p.weeks, "week");
    if (p.weeks >= 1) return write_pair(buf, size, prefix, p.weeks, "week", p.rest_days, "day");
    if (p.rest_days >= 1) return write_pair(buf, size, prefix, p.rest_days, "day", p.hours, "hour");
    if (p.hours >= 1) return write_pair(buf, size, prefix, p.hours, "hour", p.minutes, "minute");
    if (p.minutes >= 1)
        return write_pair(buf, size, prefix, p.minutes, "minute", p.seconds, "second");

    if (p.seconds >= 10) {
        if (p.millis <= 99) return write_pair(buf, size, prefix, p.seconds, "second", 0, "");
        return write_tenths(buf, size, prefix, p.seconds, p.below_second, p.second, " seconds");
    }
    if (p.seconds >= 1) {
        if (p.millis <= 9) return write_pair(buf, size, prefix, p.seconds, "second", 0, "");
        // Two decimals unless the hundredths digit is zero.
        if (p.millis % 100 <= 9)
            return write_tenths(buf, size, prefix, p.seconds, p.below_second, p.second, " seconds");
        return snprintf(buf, size, "%s%ld.%02ld seconds", prefix, as_long(p.seconds),
                        as_long(fraction(p.below_second, p.second, 100)));
    }
    if (p.millis >= 10 || (p.millis >= 1 && p.micros <= 99))
        return snprintf(buf, size, "%s%ldms", prefix, as_long(p.millis));
    if (p.millis >= 1)
        return write_tenths(buf, size, prefix, p.millis, p.below_milli, p.milli, "ms");
    if (p.micros >= 10 || (p.micros >= 1 && p.nanos <= 99))
        return snprintf(buf, size, "%s%ldus", prefix, as_long(p.micros));
    if (p.micros >= 1)
        return write_tenths(buf, size, prefix, p.micros, p.below_micro, p.micro, "us");
    return snprintf(buf, size, "%s%ldns", prefix, as_long(p.nanos));
}

} // namespace ztc::time
