// The engine with fixed text around a format, for the debug text writer: its
// line is a rendered header with the caller's message format inside.
#ifndef ZTC_OS_PRINTF_FRAMED_H
#define ZTC_OS_PRINTF_FRAMED_H

#include <cstdarg>
#include <cstddef>
#include <string_view>

namespace ztc::printf_engine {

// zt_vsprintf of fmt with the literal text `before` and `after` around its
// output: the bytes, result, %n counts (from the start of `before`) and error
// texts of the format `before` + fmt + `after` with every "%" of the two texts
// doubled, without building that format or meeting its limit on records.
// `before` may stand at the start of buf already; it is then not copied.
// Returns -1 when fmt ends inside a conversion (it would run on into
// `after`) or where `after` could change how its last conversion is read (a
// positional "$", "I3", an open "p{"); buf may then hold part of an output,
// and `ap` has not been read.
int vsprintf_framed(char *buf, size_t size, std::string_view before, const char *fmt,
                    std::string_view after, va_list ap);

} // namespace ztc::printf_engine

#endif
