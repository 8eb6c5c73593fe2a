#include "base/ztc/time/tick_parts.hpp"

namespace ztc::time {
namespace {

struct split_result {
    uint64_t count, rest;
};

// A unit too long for 64 bits is longer than any magnitude: zero of it, all left over.
split_result split(uint64_t ticks, uint64_t unit_us, uint64_t rate, uint64_t *unit = nullptr) {
    uint64_t length;
    if (__builtin_mul_overflow(unit_us, rate, &length)) {
        if (unit) *unit = 0;
        return {0, ticks};
    }
    if (unit) *unit = length;
    return {ticks / length, ticks % length};
}

} // namespace

tick_parts decompose(uint64_t magnitude, uint64_t rate) {
    tick_parts p{};
    const split_result day = split(magnitude, day_us, rate);
    const split_result hour = split(day.rest, hour_us, rate);
    const split_result minute = split(hour.rest, minute_us, rate);
    const split_result second = split(minute.rest, second_us, rate, &p.second);
    const split_result milli = split(second.rest, milli_us, rate, &p.milli);
    const split_result micro = split(milli.rest, 1, rate, &p.micro);
    p.days = day.count;
    p.hours = hour.count;
    p.minutes = minute.count;
    p.seconds = second.count;
    p.millis = milli.count;
    p.micros = micro.count;
    p.nanos = fraction(micro.rest, rate, 1000);
    p.below_second = second.rest;
    p.below_milli = milli.rest;
    p.below_micro = micro.rest;

    p.years = split(magnitude, year_us, rate).count;
    const uint64_t days_after_years = p.days - 365 * p.years;
    p.weeks = days_after_years / 7;
    p.rest_days = days_after_years % 7;
    return p;
}

} // namespace ztc::time
