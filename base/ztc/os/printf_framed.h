// The engine with fixed text around a format, for the debug text writer: its
// line is a rendered header with the caller's message format inside.
#ifndef ZTC_OS_PRINTF_FRAMED_H
#define ZTC_OS_PRINTF_FRAMED_H

#include <cstdarg>
#include <cstddef>
#include <string_view>

namespace ztc::printf_engine {

// zt_vsprintf of the format `before` + fmt + `after`, where `before` and
// `after` are literal text: the same bytes, result, %n counts and error
// texts, without building that format. Returns -1 and writes nothing where
// they would not be literal text: when they hold a "%", or when fmt ends
// inside a conversion (it would run on into `after`).
int vsprintf_framed(char *buf, size_t size, std::string_view before, const char *fmt,
                    std::string_view after, va_list ap);

} // namespace ztc::printf_engine

#endif
