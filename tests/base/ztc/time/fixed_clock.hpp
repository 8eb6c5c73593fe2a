// Fixes "now" and the tick rate for one test, restoring both afterwards.
#ifndef TESTS_BASE_ZTC_TIME_FIXED_CLOCK_HPP
#define TESTS_BASE_ZTC_TIME_FIXED_CLOCK_HPP

#include "base/ztc/time/time.h"

namespace ztc_test {

inline zt_time_t fixed_now = 0;
inline zt_time_t read_fixed_now() {
    return fixed_now;
}

class fixed_clock {
  public:
    explicit fixed_clock(int64_t rate, zt_time_t now = 0)
        : saved_rate_(time_internal_clock_mhz), saved_source_(time_internal_clock_source) {
        time_internal_clock_mhz = rate;
        fixed_now = now;
        time_internal_clock_source = read_fixed_now;
    }
    ~fixed_clock() {
        time_internal_clock_mhz = saved_rate_;
        time_internal_clock_source = saved_source_;
    }
    fixed_clock(const fixed_clock &) = delete;
    fixed_clock &operator=(const fixed_clock &) = delete;

  private:
    int64_t saved_rate_;
    zt_time_t (*saved_source_)(void);
};

} // namespace ztc_test

#endif
