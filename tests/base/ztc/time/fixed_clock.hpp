// Fixes "now" and the tick rate for one test, restoring both afterwards, and counts the reads
// of "now".
#ifndef TESTS_BASE_ZTC_TIME_FIXED_CLOCK_HPP
#define TESTS_BASE_ZTC_TIME_FIXED_CLOCK_HPP

#include "base/ztc/time/time.h"

namespace ztc_test {

inline zt_time_t fixed_now = 0;
inline int clock_reads = 0;

class fixed_clock {
  public:
    explicit fixed_clock(int64_t rate, zt_time_t now = 0) {
        time_internal_clock_mhz = rate;
        fixed_now = now;
        clock_reads = 0;
        time_internal_clock_source = [] {
            ++clock_reads;
            return fixed_now;
        };
    }
    ~fixed_clock() {
        time_internal_clock_mhz = saved_rate_;
        time_internal_clock_source = saved_source_;
    }

  private:
    int64_t saved_rate_ = time_internal_clock_mhz;
    zt_time_t (*saved_source_)(void) = time_internal_clock_source;
};

} // namespace ztc_test

#endif
