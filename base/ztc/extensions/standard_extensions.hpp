// The standard extension formatters in the order they are registered at start-up.
#ifndef ZTC_STANDARD_EXTENSIONS_HPP
#define ZTC_STANDARD_EXTENSIONS_HPP

#include <array>

#include "base/ztc/os/printf.h"

namespace ztc {

struct named_extension {
    const char *name;
    zt_printf_cb formatter;
};

// The order fixes the registry slots callers see: value extensions, then time extensions.
// "signed_four_char_code" is longer than the registry accepts and is refused; it keeps its
// place so that the order stays the documented one.
extern const std::array<named_extension, 22> standard_extensions;

} // namespace ztc

#endif
