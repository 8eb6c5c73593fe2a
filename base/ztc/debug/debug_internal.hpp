// Pieces shared by the debug core and its writers; not part of the public interface.
#ifndef ZTC_DEBUG_DEBUG_INTERNAL_H
#define ZTC_DEBUG_DEBUG_INTERNAL_H

#include "base/ztc/debug/debug.h"

// On x86-64 ELF, debug_print is an entry stub in assembly (debug_print_entry.cpp):
// the level test without the frame a variadic C++ function sets up, so that a
// print no output wants costs little more than a call. It jumps to
// debug_print_wanted, with the same arguments, for a print some output wants.
#if defined(__x86_64__) && defined(__ELF__)
#define ZTC_DEBUG_PRINT_ENTRY 1
extern "C" int debug_print_wanted(debug_output_t *output, int module, int level, const char *file,
                                  int line, const char *function, const char *fmt, ...);
#else
#define ZTC_DEBUG_PRINT_ENTRY 0
#endif

namespace ztc::debug {

constexpr int kModuleTag = 49; // its prints carry no thread name

// The standard-error output's line format.
inline constexpr char kStderrFormat[] = "%02d:%16s %11s%1d    %.0s%32s: %4d:  %s%s\n";
constexpr int kModuleBase = 1;

constexpr bool module_in_range(int module) {
    return module >= 0 && module < DEBUG_MODULE_COUNT;
}

// Level stored for a module; outputs are read without the list lock, hence the atomic load.
inline int output_level(const debug_output_t *output, int module) {
    return __atomic_load_n(&output->levels[module], __ATOMIC_RELAXED);
}

// Marks an output busy in the calling thread for the scope's life, unless it already was:
// a print made from inside a delivery must not re-enter the output being served.
class BusyScope {
  public:
    explicit BusyScope(const debug_output_t *output);
    ~BusyScope();
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;
    bool entered() const { return bit_ != 0; }

  private:
    uint32_t bit_ = 0;
};

// Hands len bytes to the write callback under the output's lock until all are taken or the
// callback refuses; skipped when the output is busy in this thread.
void deliver(const debug_output_t *output, pthread_mutex_t *lock, debug_write_cb write,
             intptr_t user, const char *bytes, size_t len);

} // namespace ztc::debug

#endif
