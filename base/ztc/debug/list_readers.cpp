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

constinit thread_local ReaderSlot *fast_reader_slot = nullptr;

namespace {
// The slot the thread claimed, private or shared.
constinit thread_local ReaderSlot *own_slot = nullptr;
// Until start-up has registered the process for membarrier, readers fence.
std::atomic<bool> readers_fence{true};
} // namespace

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
    own_slot = nullptr;
    fast_reader_slot = nullptr;
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

namespace {
bool register_membarrier() {
    return membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
}
} // namespace

void enable_fast_readers() {
    if (register_membarrier()) readers_fence.store(false, std::memory_order_release);
}

namespace {
ReaderSlot *claim_slot() {
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
    own_slot = claimed;
    pthread_setspecific(release_key, claimed);
    return claimed;
}
} // namespace

ListReader::ListReader() {
    ReaderSlot *s = own_slot != nullptr ? own_slot : claim_slot();
    slot_ = s;
    if (s->shared) {
        s->depth.fetch_add(1, std::memory_order_seq_cst);
        return;
    }
    s->depth.store(s->depth.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (readers_fence.load(std::memory_order_acquire)) {
        std::atomic_thread_fence(std::memory_order_seq_cst);
    } else {
        std::atomic_signal_fence(std::memory_order_seq_cst);
        fast_reader_slot = s; // the thread's later readers take the inline path
    }
}

ListReader::~ListReader() {
    if (slot_->shared)
        slot_->depth.fetch_sub(1, std::memory_order_release);
    else
        slot_->depth.store(slot_->depth.load(std::memory_order_relaxed) - 1,
                           std::memory_order_release);
}

void wait_for_list_readers() {
    // Every reader that marked its slot before this point has its mark visible afterwards;
    // every reader that marks later reads the list as it is now.
    if (readers_fence.load(std::memory_order_acquire) ||
        membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0)
        std::atomic_thread_fence(std::memory_order_seq_cst);
    const size_t used = slots_in_use.load(std::memory_order_acquire);
    for (size_t i = 0; i < used; ++i) {
        if (&slots[i] != own_slot) wait_until_left(slots[i]);
    }
    wait_until_left(shared_slot);
}

void reset_list_readers_in_child() {
    for (ReaderSlot &slot : slots) {
        if (&slot == own_slot) continue;
        slot.depth.store(0, std::memory_order_relaxed);
        slot.owned.store(0, std::memory_order_relaxed);
    }
    shared_slot.depth.store(0, std::memory_order_relaxed);
    // The registration may not carry over to the child's address space.
    const bool fence = !register_membarrier();
    readers_fence.store(fence, std::memory_order_release);
    if (fence) fast_reader_slot = nullptr;
}

} // namespace ztc::debug

namespace ztc::startup {
void prepare_list_readers() {
    ztc::debug::enable_fast_readers();
}
} // namespace ztc::startup
