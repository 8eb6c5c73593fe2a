#include "base/ztc/startup.h"

namespace ztc::startup {
void register_standard_extensions() {}
} // namespace ztc::startup
