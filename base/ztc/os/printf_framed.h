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
// texts, without building that format. `before` may stand at the start of buf
// already; it is then not copied. Returns -1 where they would not be literal
// text: when they hold a "%" (buf untouched), or when fmt ends inside a
// conversion (it would run on into `after`; buf may hold part of an output).
// `ap` is not read when -1 is returned.
int vsprintf_framed(char *buf, size_t size, std::string_view before, const char *fmt,
                    std::string_view after, va_list ap);

} // namespace ztc::printf_engine

#endif
