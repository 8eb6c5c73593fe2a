// Steps of the library's start-up, run once before main in this order.
#ifndef ZTC_STARTUP_H
#define ZTC_STARTUP_H

namespace ztc::startup {
void register_standard_extensions();
void prepare_thread_numbers();
void prepare_list_readers();
void install_fork_handlers();
void apply_environment();
} // namespace ztc::startup

#endif
