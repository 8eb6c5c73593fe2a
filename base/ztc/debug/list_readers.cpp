// The level test's lockless readers of the output list, and removal's wait for them.
//
// A reader marks its own slot while it walks; removal unlinks the record, then waits until
// every slot that was marked when the record was still reachable has been seen unmarked once.
// The readers' plain stores are made visible before removal looks at them by a process-wide
// barrier (membarrier), so the walk that every print makes stays free of fences and of
// shared writes. Threads beyond the pool share one slot with atomic counts.
#include <linux/membarrier.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/extensions/startup.hpp"

namespace ztc::debug {

constinit thread_local ReaderSlot *reader_slot = nullptr;
// Until start-up has registered the process for membarrier, readers fence.
std::atomic<bool> readers_fence{true};

namespace {
constexpr size_t kSlots = 128;
ReaderSlot slots[kSlots];
constinit ReaderSlot shared_slot{{0}, {0}, true};
std::atomic<size_t> slots_in_use{0}; // every slot ever claimed lies below
pthread_key_t release_key;
pthread_once_t release_key_once = PTHREAD_ONCE_INIT;

long membarrier(int command) {
    return syscall(__NR_membarrier, command, 0, 0);
}

// Runs when a thread that claimed a slot ends.
void release_slot(void *value) {
    auto *slot = static_cast<ReaderSlot *>(value);
    reader_slot = nullptr;
    if (slot != nullptr && !slot->shared) slot->owned.store(0, std::memory_order_release);
}

void create_release_key() {
    pthread_key_create(&release_key, release_slot);
}

void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

void wait_until_left(const ReaderSlot &slot) {
    for (int spins = 0; slot.depth.load(std::memory_order_acquire) != 0; ++spins) {
        if (spins < 100)
            cpu_relax();
        else
            sched_yield();
    }
}
} // namespace

bool register_membarrier() {
    return membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
}

ReaderSlot *claim_reader_slot() {
    pthread_once(&release_key_once, create_release_key);
    ReaderSlot *claimed = &shared_slot;
    for (size_t i = 0; i < kSlots; ++i) {
        uint32_t free_slot = 0;
        if (slots[i].owned.compare_exchange_strong(free_slot, 1, std::memory_order_acq_rel)) {
            claimed = &slots[i];
            size_t used = slots_in_use.load(std::memory_order_relaxed);
            while (used < i + 1 &&
                   !slots_in_use.compare_exchange_weak(used, i + 1, std::memory_order_acq_rel)) {
            }
            break;
        }
    }
    reader_slot = claimed;
    pthread_setspecific(release_key, claimed);
    return claimed;
}

void wait_for_list_readers() {
    // Every reader that marked its slot before this point has its mark visible afterwards;
    // every reader that marks later reads the list as it is now.
    if (readers_fence.load(std::memory_order_acquire) ||
        membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0)
        std::atomic_thread_fence(std::memory_order_seq_cst);
    const size_t used = slots_in_use.load(std::memory_order_acquire);
    for (size_t i = 0; i < used; ++i) {
        if (&slots[i] != reader_slot) wait_until_left(slots[i]);
    }
    wait_until_left(shared_slot);
}

void reset_list_readers_in_child() {
    for (ReaderSlot &slot : slots) {
        if (&slot == reader_slot) continue;
        slot.depth.store(0, std::memory_order_relaxed);
        slot.owned.store(0, std::memory_order_relaxed);
    }
    shared_slot.depth.store(0, std::memory_order_relaxed);
    // The registration may not carry over to the child's address space.
    readers_fence.store(!register_membarrier(), std::memory_order_release);
}

} // namespace ztc::debug

namespace ztc::startup {
void prepare_list_readers() {
    if (ztc::debug::register_membarrier())
        ztc::debug::readers_fence.store(false, std::memory_order_release);
}
} // namespace ztc::startup
