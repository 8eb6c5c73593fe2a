// Renderers shared by the duration and time-point formatters.
#ifndef ZTC_TIME_TIME_TEXT_HPP
#define ZTC_TIME_TIME_TEXT_HPP

#include <cstddef>
#include <cstdint>

namespace ztc::time {

// Written in place of a text when the tick rate is not positive.
inline constexpr char bad_rate_text[] = "bad clock rate";

// Compact text of a magnitude ("1.23ms", "1d 01:01"); size must be at least 1.
int write_compact(uint64_t magnitude, uint64_t rate, char *buf, size_t size);

// Worded text of a non-zero magnitude after prefix ("minus 1.5 seconds"); size at least 1.
int write_worded(const char *prefix, uint64_t magnitude, uint64_t rate, char *buf, size_t size);

// Copies suffix after the text already in buf while it fits, cutting rather than dropping it;
// returns the length of the text now in buf. size must be at least 1.
size_t append_suffix(char *buf, size_t size, const char *suffix);

} // namespace ztc::time

#endif
