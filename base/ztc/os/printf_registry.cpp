// Named extension formatters reached by "%p{name}".
#include <array>
#include <cstring>
#include <mutex>

#include "base/ztc/os/printf_internal.h"

namespace ztc::printf_engine {
namespace {

// Slots are filled in order and never rewritten, so a slot handed out by a
// lookup stays valid after the lock is released.
std::array<RegistrySlot, REGISTRY_SLOTS> registry_slots{};
std::mutex registry_lock;

bool slot_is_free(const RegistrySlot &slot) {
    return slot.name[0] == '\0';
}

} // namespace

const RegistrySlot *registry_find(std::string_view name) {
    if (name.empty() || name.size() > MAX_EXTENSION_NAME_LEN) return nullptr;
    std::lock_guard guard(registry_lock);
    for (const RegistrySlot &slot : registry_slots) {
        if (slot_is_free(slot)) break;
        if (name == slot.name) return &slot;
    }
    return nullptr;
}

int registry_slots_in_use() {
    std::lock_guard guard(registry_lock);
    int used = 0;
    for (const RegistrySlot &slot : registry_slots) used += slot_is_free(slot) ? 0 : 1;
    return used;
}

} // namespace ztc::printf_engine

using namespace ztc::printf_engine;

extern "C" error_code_t zt_printf_register(const char *name, zt_printf_cb cb) {
    if (name == nullptr || cb == nullptr) return ERROR_INVALID_ARGUMENT;
    size_t length = strnlen(name, MAX_EXTENSION_NAME_LEN + 1);
    if (length == 0 || length > MAX_EXTENSION_NAME_LEN) return ERROR_INVALID_ARGUMENT;

    std::lock_guard guard(registry_lock);
    for (RegistrySlot &slot : registry_slots) {
        if (!slot_is_free(slot)) continue;
        memcpy(slot.name, name, length + 1);
        slot.formatter = cb;
        return ERROR_SUCCESS;
    }
    return ERROR_OUT_OF_MEMORY;
}
