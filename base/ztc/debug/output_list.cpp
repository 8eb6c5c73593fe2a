// Managed outputs: ready records, and adding, finding and removing them while others print.
#include <limits.h>
#include <string.h>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/debug/outputs.h"

namespace ztc::debug {
// Levels no print reaches and no next record: a walk that meets it anyway stops harmlessly.
constinit debug_output_t retired_output = [] {
    debug_output_t o{};
    for (int &level : o.levels) level = INT_MIN;
    o.type = -1;
    return o;
}();
} // namespace ztc::debug

namespace {
constexpr int kDefaultLevel = 3;

debug_output_t *next_of(const debug_output_t *o) {
    return __atomic_load_n(&o->next, __ATOMIC_RELAXED);
}

void copy_cut(char *to, size_t size, const char *from) {
    const size_t n = from != nullptr ? strnlen(from, size - 1) : 0;
    if (n > 0) memmove(to, from, n);
    to[n] = '\0';
}

void init_common(debug_output_t *output, const char *name, int type) {
    // The name may be the record's own, which clearing it would blank.
    char kept[sizeof output->name];
    copy_cut(kept, sizeof kept, name);
    memset(output, 0, sizeof *output);
    memcpy(output->name, kept, sizeof kept);
    for (int &level : output->levels) level = kDefaultLevel;
    output->type = type;
}

bool is_linked(const debug_output_t *output) {
    for (const debug_output_t *o = debug_output_list; o != nullptr; o = next_of(o))
        if (o == output) return true;
    return false;
}

// The smallest id no linked output has, so that up to 32 outputs keep busy bits of their own.
int free_id() {
    for (int id = 0;; ++id) {
        bool taken = false;
        for (const debug_output_t *o = debug_output_list; o != nullptr && !taken; o = next_of(o))
            taken = o->id == id;
        if (!taken) return id;
    }
}
} // namespace

extern "C" {

void debug_output_init_text(debug_output_t *output, const char *name, const char *format,
                            debug_write_cb write, intptr_t user) {
    if (output == nullptr) return;
    char kept[sizeof output->u.text.format];
    copy_cut(kept, sizeof kept, format != nullptr ? format : ztc::debug::kStderrFormat);
    init_common(output, name, DEBUG_OUTPUT_TEXT);
    memcpy(output->u.text.format, kept, sizeof kept);
    pthread_mutex_init(&output->u.text.lock, nullptr);
    output->u.text.write = write;
    output->u.text.user = user;
}

void debug_output_init_binary(debug_output_t *output, const char *name, debug_write_cb write,
                              intptr_t user) {
    if (output == nullptr) return;
    init_common(output, name, DEBUG_OUTPUT_BINARY);
    pthread_mutex_init(&output->u.binary.lock, nullptr);
    output->u.binary.write = write;
    output->u.binary.user = user;
}

void debug_output_init_external(debug_output_t *output, const char *name,
                                debug_external_cb callback, intptr_t user) {
    if (output == nullptr) return;
    init_common(output, name, DEBUG_OUTPUT_EXTERNAL);
    output->u.external.callback = callback;
    output->u.external.user = user;
}

error_code_t debug_output_add(debug_output_t *output) {
    if (output == nullptr) return ERROR_INVALID_ARGUMENT;
    ztc::debug::LockGuard lock(&debug_output_list_lock);
    if (is_linked(output)) return ERROR_INVALID_ARGUMENT;
    output->id = free_id();
    __atomic_store_n(&output->next, nullptr, __ATOMIC_RELAXED);
    // Published whole: the level test reads the record as soon as it is linked.
    debug_output_t **link = &debug_output_list;
    while (*link != nullptr) link = &(*link)->next;
    __atomic_store_n(link, output, __ATOMIC_RELEASE);
    return ERROR_SUCCESS;
}

error_code_t debug_output_remove(debug_output_t *output) {
    if (output == nullptr) return ERROR_INVALID_ARGUMENT;
    // Its own delivery on this thread would go on reading it once we return.
    if (ztc::debug::busy_in_this_thread(output)) return ERROR_IN_USE;
    // Held throughout: no delivery to any output is under way (they hold this lock too), and
    // none can start before the record is marked removed.
    ztc::debug::LockGuard lock(&debug_output_list_lock);
    debug_output_t **link = &debug_output_list;
    while (*link != nullptr && *link != output) link = &(*link)->next;
    if (*link == nullptr) return ERROR_INVALID_ARGUMENT;
    __atomic_store_n(link, next_of(output), __ATOMIC_RELEASE);
    ztc::debug::wait_for_list_readers();
    __atomic_store_n(&output->next, &ztc::debug::retired_output, __ATOMIC_RELAXED);
    return ERROR_SUCCESS;
}

debug_output_t *debug_output_find(const char *name) {
    if (name == nullptr) return nullptr;
    const size_t length = strnlen(name, sizeof debug_output_t::name);
    if (length == sizeof debug_output_t::name) return nullptr;
    ztc::debug::LockGuard lock(&debug_output_list_lock);
    for (debug_output_t *o = debug_output_list; o != nullptr; o = next_of(o))
        if (strnlen(o->name, sizeof o->name) == length && memcmp(o->name, name, length) == 0)
            return o;
    return nullptr;
}

void debug_output_set_level(debug_output_t *output, int module, int level) {
    if (output == nullptr || module < -1 || module >= DEBUG_MODULE_COUNT) return;
    const int first = module < 0 ? 0 : module;
    const int end = module < 0 ? DEBUG_MODULE_COUNT : module + 1;
    for (int m = first; m < end; ++m) __atomic_store_n(&output->levels[m], level, __ATOMIC_RELAXED);
    // The print macros' pre-test must let the new level's prints through.
    int runtime = __atomic_load_n(&debug_max_runtime_level, __ATOMIC_RELAXED);
    while (runtime < level &&
           !__atomic_compare_exchange_n(&debug_max_runtime_level, &runtime, level, true,
                                        __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
    }
}

} // extern "C"
