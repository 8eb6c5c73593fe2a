#include "base/ztc/extensions/startup.hpp"

namespace {
// The archive is one partially linked object, so this constructor is linked into
// every program that uses the library, also without CMake.
__attribute__((constructor)) void ztc_startup() {
    ztc::startup::register_standard_extensions();
    ztc::startup::prepare_thread_numbers();
    ztc::startup::prepare_list_readers();
    ztc::startup::install_fork_handlers();
    // Last: it may print and open a file output.
    ztc::startup::apply_environment();
}
} // namespace
