// Per-thread mask of the outputs a thread is delivering to, kept in a thread-specific key.
#include <pthread.h>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/extensions/startup.hpp"

namespace {
pthread_key_t debug_output_busy_key;
pthread_once_t busy_key_once = PTHREAD_ONCE_INIT;

void create_key() {
    pthread_key_create(&debug_output_busy_key, nullptr);
}

// The once-guard also covers a print made before start-up reached this step.
uint32_t busy_mask() {
    pthread_once(&busy_key_once, create_key);
    return static_cast<uint32_t>(
        reinterpret_cast<uintptr_t>(pthread_getspecific(debug_output_busy_key)));
}

void store_busy_mask(uint32_t mask) {
    pthread_setspecific(debug_output_busy_key,
                        reinterpret_cast<void *>(static_cast<uintptr_t>(mask)));
}

uint32_t busy_bit(int id) {
    int b = id % 32;
    if (b < 0) b += 32;
    return 1u << b;
}
} // namespace

namespace ztc::debug {

bool busy_in_this_thread(const debug_output_t *output) {
    return (busy_mask() & busy_bit(output->id)) != 0;
}

BusyScope::BusyScope(const debug_output_t *output) {
    uint32_t bit = busy_bit(output->id);
    uint32_t mask = busy_mask();
    if (mask & bit) return;
    store_busy_mask(mask | bit);
    bit_ = bit;
}

BusyScope::~BusyScope() {
    if (!bit_) return;
    uint32_t mask = busy_mask(); // read again: an inner delivery may have changed other bits
    if (mask & bit_) store_busy_mask(mask & ~bit_);
}

} // namespace ztc::debug

namespace ztc::startup {
void create_busy_mask_key() {
    pthread_once(&busy_key_once, create_key);
}
} // namespace ztc::startup
