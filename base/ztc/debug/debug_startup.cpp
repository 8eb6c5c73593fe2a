#include "base/ztc/startup.h"

namespace ztc::startup {
void prepare_thread_numbers() {}
void create_busy_mask_key() {}
} // namespace ztc::startup
