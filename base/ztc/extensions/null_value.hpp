// The text of a formatter handed a null value pointer, in place of reading through it.
#ifndef ZTC_NULL_VALUE_HPP
#define ZTC_NULL_VALUE_HPP

#include <cstddef>
#include <cstdio>

namespace ztc {

inline int write_null_value(char *buf, size_t size) {
    return snprintf(buf, size, "(null)");
}

} // namespace ztc

#endif
