// Per-thread mask of the outputs a thread is delivering to. A thread-local word
// rather than a thread-specific key: it starts at 0 in every thread, like an
// empty key, and a delivery reads and writes it without a call.
#include "base/ztc/debug/debug_internal.hpp"

namespace {
constinit thread_local uint32_t busy_mask = 0;

uint32_t busy_bit(int id) {
    int b = id % 32;
    if (b < 0) b += 32;
    return 1u << b;
}
} // namespace

namespace ztc::debug {

bool busy_in_this_thread(const debug_output_t *output) {
    return (busy_mask & busy_bit(output->id)) != 0;
}

BusyScope::BusyScope(const debug_output_t *output) {
    const uint32_t bit = busy_bit(output->id);
    if (busy_mask & bit) return;
    busy_mask |= bit;
    bit_ = bit;
}

// Only its own bit: an inner delivery may have set and cleared others meanwhile.
BusyScope::~BusyScope() {
    busy_mask &= ~bit_;
}

} // namespace ztc::debug
