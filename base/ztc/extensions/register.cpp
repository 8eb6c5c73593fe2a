#include "base/ztc/os/printf.h"
#include "base/ztc/extensions/standard_extensions.hpp"
#include "base/ztc/extensions/startup.hpp"

namespace ztc::startup {

// A refused name (the signed four-character code is too long) must not stop the rest.
void register_standard_extensions() {
    for (const named_extension &extension : standard_extensions)
        (void)zt_printf_register(extension.name, extension.formatter);
}

} // namespace ztc::startup
