// Splitting a tick magnitude into calendar and SI units at the current tick rate.
#ifndef ZTC_TIME_TICK_PARTS_HPP
#define ZTC_TIME_TICK_PARTS_HPP

#include <cstdint>

#include "base/ztc/time/time.h"

namespace ztc::time {

// Microseconds in each unit; a unit's length in ticks is this times the rate.
inline constexpr uint64_t year_us = 31536000000000; // 365 days
inline constexpr uint64_t day_us = 86400000000;
inline constexpr uint64_t hour_us = 3600000000;
inline constexpr uint64_t minute_us = 60000000;
inline constexpr uint64_t second_us = 1000000;
inline constexpr uint64_t milli_us = 1000;

// Magnitudes are unsigned so that the most negative tick count, and any distance between
// two time points, has an exact magnitude.
struct tick_parts {
    uint64_t years, weeks, rest_days; // worded form: 365-day years, weeks, days left over
    uint64_t days, hours, minutes, seconds, millis, micros, nanos;
    uint64_t below_second, below_milli, below_micro; // ticks left under each unit
    uint64_t second, milli, micro;                   // unit lengths in ticks
};

// Whole part of rest * scale / unit, exact for every 64-bit rest and unit.
inline uint64_t fraction(uint64_t rest, uint64_t unit, uint64_t scale) {
    uint64_t product;
    if (!__builtin_mul_overflow(rest, scale, &product)) return product / unit;
    return static_cast<uint64_t>(static_cast<unsigned __int128>(rest) * scale / unit);
}

tick_parts decompose(uint64_t magnitude, uint64_t rate);

// The rate read once per call; 0 when it is outside the domain (not positive).
inline uint64_t current_rate() {
    const int64_t rate = time_internal_clock_mhz;
    return rate > 0 ? static_cast<uint64_t>(rate) : 0;
}

// Magnitude of a tick count, also for the most negative one (2^63).
inline uint64_t magnitude(zt_time_t t) {
    return t < 0 ? uint64_t{0} - static_cast<uint64_t>(t) : static_cast<uint64_t>(t);
}

} // namespace ztc::time

#endif
