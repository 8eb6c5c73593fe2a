// Thread identity under the three threading types, and per-thread exit hooks.
#include <stdlib.h>

#include "base/ztc/debug/debug.h"
#include "base/ztc/os/thread.h"

extern "C" {
int zt_thread_type = ZT_THREAD_TYPE_RAW;
zt_thread_entry *zt_thread_table = nullptr;
int zt_thread_count = 0;
}

namespace {
constexpr const char *kFile = "base/ztc/os/thread";
constexpr int kModuleBase = 1;
constexpr int kLineSelfMismatch = 1456;
constexpr int kLineSelfInvalid = 1453;
constexpr int kLinePreforkOutside = 555;
constexpr int kLineDemandOutside = 897;

pthread_key_t zt_thread_hook_key;
pthread_once_t hook_key_once = PTHREAD_ONCE_INIT;

void create_hook_key() {
    pthread_key_create(&zt_thread_hook_key, zt_thread_run_hooks);
}

zt_thread_entry *table_entry(int64_t num) {
    if (zt_thread_table == nullptr || num < 0 || num >= zt_thread_count) return nullptr;
    return &zt_thread_table[num];
}

zt_thread_hook *new_hook(zt_thread_hook_fn fn, void *data, zt_thread_hook *next) {
    auto *hook = static_cast<zt_thread_hook *>(malloc(sizeof(zt_thread_hook)));
    if (hook == nullptr) return nullptr;
    hook->fn = fn;
    hook->data = data;
    hook->next = next;
    return hook;
}

// Prefork and demand threads link into their table entry; the facility runs the list.
error_code_t table_atexit(zt_thread_hook_fn fn, void *data, const char *function, int line) {
    if (fn == nullptr) return ERROR_INVALID_ARGUMENT;
    int num = static_cast<int>(zt_thread_self());
    zt_thread_entry *entry = table_entry(num);
    if (entry == nullptr) {
        if (debug_max_runtime_level > 1)
            debug_print(nullptr, kModuleBase, 2, kFile, line, function,
                        "Called zt_thread_atexit() in non-zt thread!");
        return ERROR_INVALID_ARGUMENT;
    }
    zt_thread_hook *hook = new_hook(fn, data, entry->hooks);
    if (hook == nullptr) return ERROR_OUT_OF_MEMORY;
    entry->hooks = hook;
    return ERROR_SUCCESS;
}
} // namespace

extern "C" {

uint64_t zt_thread_self(void) {
    pthread_t self = pthread_self();
    if (zt_thread_type == ZT_THREAD_TYPE_RAW) return static_cast<uint64_t>(self);
    int num = debug_get_thread_num();
    const zt_thread_entry *entry = table_entry(num);
    if (entry != nullptr) {
        if (!pthread_equal(entry->thread, self) && debug_max_runtime_level > 0)
            debug_print(nullptr, kModuleBase, 1, kFile, kLineSelfMismatch, "zt_thread_self",
                        "Thread %d -> %lx != pthread_self() -> %lx?", num,
                        static_cast<unsigned long>(entry->thread),
                        static_cast<unsigned long>(self));
    } else if (debug_max_runtime_level > 3) {
        debug_print(nullptr, kModuleBase, 4, kFile, kLineSelfInvalid, "zt_thread_self",
                    "Thread %d -> invalid != pthread_self() -> %lx?", num,
                    static_cast<unsigned long>(self));
    }
    return static_cast<uint64_t>(static_cast<int64_t>(num));
}

bool zt_thread_is_foreign(void) {
    if (zt_thread_type == ZT_THREAD_TYPE_RAW) return true;
    int num = debug_get_thread_num();
    return num < 0 || num >= zt_thread_count;
}

error_code_t zt_thread_atexit(zt_thread_hook_fn fn, void *data) {
    switch (zt_thread_type) {
    case ZT_THREAD_TYPE_RAW:
        return zt_thread_raw_atexit(fn, data);
    case ZT_THREAD_TYPE_PREFORK:
        return zt_thread_prefork_atexit(fn, data);
    case ZT_THREAD_TYPE_DEMAND:
        return zt_thread_demand_atexit(fn, data);
    default:
        return ERROR_UNKNOWN;
    }
}

error_code_t zt_thread_raw_atexit(zt_thread_hook_fn fn, void *data) {
    if (fn == nullptr) return ERROR_INVALID_ARGUMENT;
    pthread_once(&hook_key_once, create_hook_key);
    auto *head = static_cast<zt_thread_hook *>(pthread_getspecific(zt_thread_hook_key));
    zt_thread_hook *hook = new_hook(fn, data, head);
    if (hook == nullptr) return ERROR_OUT_OF_MEMORY;
    if (pthread_setspecific(zt_thread_hook_key, hook) != 0) {
        free(hook);
        return ERROR_OUT_OF_MEMORY;
    }
    return ERROR_SUCCESS;
}

error_code_t zt_thread_prefork_atexit(zt_thread_hook_fn fn, void *data) {
    return table_atexit(fn, data, "zt_thread_prefork_atexit", kLinePreforkOutside);
}

error_code_t zt_thread_demand_atexit(zt_thread_hook_fn fn, void *data) {
    return table_atexit(fn, data, "zt_thread_demand_atexit", kLineDemandOutside);
}

void zt_thread_run_hooks(void *head) {
    auto *hook = static_cast<zt_thread_hook *>(head);
    while (hook != nullptr) {
        hook->fn(hook->data);
        zt_thread_hook *next = hook->next;
        free(hook);
        hook = next;
    }
}

} // extern "C"
