#include <cstdio>

#include "base/ztc/time/tick_parts.hpp"
#include "base/ztc/time/time_text.hpp"

namespace ztc::time {
namespace {

long as_long(uint64_t v) {
    return static_cast<long>(v);
}

// Whole count with one or two fraction digits, or the count alone from 100 up.
int write_scaled(char *buf, size_t size, uint64_t count, uint64_t rest, uint64_t unit,
                 const char *symbol) {
    if (count >= 100) return snprintf(buf, size, "%ld%s", as_long(count), symbol);
    if (count >= 10)
        return snprintf(buf, size, "%ld.%01ld%s", as_long(count), as_long(fraction(rest, unit, 10)),
                        symbol);
    return snprintf(buf, size, "%ld.%02ld%s", as_long(count), as_long(fraction(rest, unit, 100)),
                    symbol);
}

} // namespace

int write_compact(uint64_t magnitude, uint64_t rate, char *buf, size_t size) {
    const tick_parts p = decompose(magnitude, rate);
    if (p.days >= 1)
        return snprintf(buf, size, "%ldd %02ld:%02ld", as_long(p.days), as_long(p.hours),
                        as_long(p.minutes));
    if (p.hours >= 1)
        return snprintf(buf, size, "%ld:%02ld:%02ld", as_long(p.hours), as_long(p.minutes),
                        as_long(p.seconds));
    if (p.minutes >= 1)
        return snprintf(buf, size, "%ld:%02ld.%01ld", as_long(p.minutes), as_long(p.seconds),
                        as_long(fraction(p.below_second, p.second, 10)));
    if (p.seconds >= 10)
        return snprintf(buf, size, "%ld.%01lds", as_long(p.seconds),
                        as_long(fraction(p.below_second, p.second, 10)));
    if (p.seconds >= 1)
        return snprintf(buf, size, "%ld.%02lds", as_long(p.seconds),
                        as_long(fraction(p.below_second, p.second, 100)));
    if (p.millis >= 1) return write_scaled(buf, size, p.millis, p.below_milli, p.milli, "ms");
    if (p.micros >= 1) return write_scaled(buf, size, p.micros, p.below_micro, p.micro, "us");
    return snprintf(buf, size, "%ldns", as_long(p.nanos));
}

} // namespace ztc::time
