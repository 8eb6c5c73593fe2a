// Named extension formatters reached by "%p{name}".
//
// Slots are filled in order and never rewritten, so lookups need no lock: a
// registration fills the next slot under the lock and then publishes the new
// count with release order; a lookup reads the count with acquire order and
// compares only the slots below it, which are complete and stay unchanged.
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "base/ztc/os/printf/internal.hpp"

namespace ztc::printf_engine {
namespace {

std::array<RegistrySlot, REGISTRY_SLOTS> registry_slots{};
std::atomic<int> published_slots{0};
std::mutex registry_lock; // serialises registrations

} // namespace

const RegistrySlot *registry_find(std::string_view name) {
    if (name.empty() || name.size() > MAX_EXTENSION_NAME_LEN) return nullptr;
    const int used = published_slots.load(std::memory_order_acquire);
    for (int i = 0; i < used; ++i) {
        if (name == registry_slots[static_cast<size_t>(i)].name)
            return &registry_slots[static_cast<size_t>(i)];
    }
    return nullptr;
}

int registry_slots_in_use() {
    return published_slots.load(std::memory_order_acquire);
}

void registry_lock_for_fork() {
    registry_lock.lock();
}
void registry_unlock_after_fork() {
    registry_lock.unlock();
}

} // namespace ztc::printf_engine

using namespace ztc::printf_engine;

extern "C" error_code_t zt_printf_register(const char *name, zt_printf_cb cb) {
    if (name == nullptr || cb == nullptr) return ERROR_INVALID_ARGUMENT;
    size_t length = strnlen(name, MAX_EXTENSION_NAME_LEN + 1);
    if (length == 0 || length > MAX_EXTENSION_NAME_LEN) return ERROR_INVALID_ARGUMENT;

    std::lock_guard guard(registry_lock);
    const int used = published_slots.load(std::memory_order_relaxed);
    if (used == REGISTRY_SLOTS) return ERROR_OUT_OF_MEMORY;
    RegistrySlot &slot = registry_slots[static_cast<size_t>(used)];
    memcpy(slot.name, name, length + 1);
    slot.formatter = cb;
    published_slots.store(used + 1, std::memory_order_release);
    return ERROR_SUCCESS;
}
