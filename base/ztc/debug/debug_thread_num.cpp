// Debug thread numbers: handed out from 99 down, freed when their thread ends.
#include <pthread.h>

#include <array>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/extensions/startup.hpp"

extern "C" {
uint32_t debug_thread_nums_enabled = 0;
char debug_thread_names[DEBUG_THREAD_NUM_COUNT][DEBUG_THREAD_NAME_SIZE] = {};
}

namespace {
constexpr const char *kFile = "base/ztc/debug/debug";
constexpr int kLineAllocationFailed = 119;
constexpr int kLineAllocated = 128;

// Key value: the thread's number plus one; empty until the thread first asks.
pthread_key_t debug_thread_num_key;
pthread_mutex_t thread_num_lock;
pthread_once_t thread_num_once = PTHREAD_ONCE_INIT;
std::array<uint8_t, DEBUG_THREAD_NUM_COUNT> debug_thread_num_used{};

void release_thread_num(void *value) {
    intptr_t v = reinterpret_cast<intptr_t>(value);
    if (v < 1 || v > DEBUG_THREAD_NUM_COUNT) return;
    pthread_mutex_lock(&thread_num_lock);
    debug_thread_num_used[static_cast<size_t>(v - 1)] = 0;
    pthread_mutex_unlock(&thread_num_lock);
}

void store_thread_num(intptr_t value) {
    pthread_setspecific(debug_thread_num_key, reinterpret_cast<void *>(value));
}

// Runs in the initial thread before main: that thread is -1 for good.
void prepare() {
    pthread_mutex_init(&thread_num_lock, nullptr);
    pthread_key_create(&debug_thread_num_key, release_thread_num);
    store_thread_num(-1);
}

// Takes the highest free number; none free: shares 99 and says so.
int allocate_thread_num(bool *exhausted) {
    pthread_mutex_lock(&thread_num_lock);
    int num = DEBUG_THREAD_NUM_COUNT - 1;
    *exhausted = true;
    for (int n = DEBUG_THREAD_NUM_COUNT - 1; n >= 0; --n) {
        if (!debug_thread_num_used[static_cast<size_t>(n)]) {
            debug_thread_num_used[static_cast<size_t>(n)] = 1;
            num = n;
            *exhausted = false;
            break;
        }
    }
    // Stored before the lock goes, so the failure print below finds the number.
    store_thread_num(num + 1);
    pthread_mutex_unlock(&thread_num_lock);
    return num;
}
} // namespace

extern "C" int debug_get_thread_num(void) {
    pthread_once(&thread_num_once, prepare);
    void *value = pthread_getspecific(debug_thread_num_key);
    if (value != nullptr) {
        int32_t num = static_cast<int32_t>(reinterpret_cast<intptr_t>(value)) - 1;
        return num >= 0 ? num : -1;
    }
    if (__atomic_load_n(&debug_thread_nums_enabled, __ATOMIC_RELAXED) == 0) return 0;

    bool exhausted = false;
    int num = allocate_thread_num(&exhausted);
    if (exhausted && debug_max_runtime_level > 0)
        debug_print(nullptr, ztc::debug::kModuleBase, 1, kFile, kLineAllocationFailed,
                    "debug_get_thread_num", "Thread num allocation failed!");
    if (debug_max_runtime_level > 3)
        debug_print(nullptr, ztc::debug::kModuleBase, 4, kFile, kLineAllocated,
                    "debug_get_thread_num", "Thread num allocated: %d.", num);
    return num;
}

namespace ztc::debug {
void lock_thread_numbers_for_fork() {
    pthread_mutex_lock(&thread_num_lock);
}
void unlock_thread_numbers_after_fork() {
    pthread_mutex_unlock(&thread_num_lock);
}
} // namespace ztc::debug

namespace ztc::startup {
void prepare_thread_numbers() {
    pthread_once(&thread_num_once, prepare);
}
} // namespace ztc::startup
