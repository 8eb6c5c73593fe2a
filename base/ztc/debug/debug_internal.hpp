// Pieces shared by the debug core and its writers; not part of the public interface.
#ifndef ZTC_DEBUG_DEBUG_INTERNAL_H
#define ZTC_DEBUG_DEBUG_INTERNAL_H

#include <atomic>

#include "base/ztc/debug/debug.h"

namespace ztc::debug {

// Holds a mutex for a scope.
class LockGuard {
  public:
    explicit LockGuard(pthread_mutex_t *m) : m_(m) { pthread_mutex_lock(m_); }
    ~LockGuard() { pthread_mutex_unlock(m_); }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;

  private:
    pthread_mutex_t *m_;
};

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

// Whether this thread is delivering to the output (or to one sharing its busy bit).
bool busy_in_this_thread(const debug_output_t *output);

// Hands len bytes to the write callback until all are taken or the callback refuses; skipped
// when the output is busy in this thread or was removed. Holds the output-list lock around the
// output's lock, the one order of the two everywhere, so a callback may print to all outputs.
void deliver(const debug_output_t *output, pthread_mutex_t *lock, debug_write_cb write,
             intptr_t user, const char *bytes, size_t len);

// A removed record's next field points here until it is added again: deliveries skip it.
extern debug_output_t retired_output;

// Readers of the list without its lock (the level test) announce themselves in a slot of
// their own thread; removal unlinks, then waits until every reader that may still hold the
// record has left. Entering costs two plain stores: removal makes them visible with
// membarrier, or readers fence when the kernel lacks it.
struct alignas(64) ReaderSlot {
    std::atomic<uint32_t> depth{0};
    std::atomic<uint32_t> owned{0};
    bool shared = false; // the slot of the threads the pool has no room for: atomic counts
};

// The thread's own slot when plain stores suffice (membarrier registered, slot not shared);
// null sends the reader through ListReader, which claims a slot and sets this when it may.
extern constinit thread_local ReaderSlot *fast_reader_slot;

// A fast reader marks its slot with plain stores. Walks of one thread never nest (a walk
// calls nothing; prints from signal handlers are not supported), so the mark is 1 or 0.
class FastReader {
  public:
    FastReader() : slot_(fast_reader_slot) {
        slot_->depth.store(1, std::memory_order_relaxed);
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    ~FastReader() { slot_->depth.store(0, std::memory_order_release); }
    FastReader(const FastReader &) = delete;
    FastReader &operator=(const FastReader &) = delete;

  private:
    ReaderSlot *slot_;
};

// Any reader: claims the thread's slot on first use, counts atomically in the shared slot,
// fences when membarrier is not there.
class ListReader {
  public:
    ListReader();
    ~ListReader();
    ListReader(const ListReader &) = delete;
    ListReader &operator=(const ListReader &) = delete;

  private:
    ReaderSlot *slot_;
};

// Returns once no reader that entered before the call is still reading the list.
void wait_for_list_readers();
// In a forked child: the other threads' slots are gone with them.
void reset_list_readers_in_child();

// The thread-number lock around fork.
void lock_thread_numbers_for_fork();
void unlock_thread_numbers_after_fork();

// Writes out a file output's buffered lines; nothing for any other output.
void flush_if_file(debug_output_t *output);
// Lines of this level or more severe are written out at once by file outputs.
constexpr int kFlushLevel = 2;
// In a forked child: buffered lines are the parent's to write.
void drop_file_buffers_in_child();
void flush_all_files();
void flush_files_at_exit();

} // namespace ztc::debug

#endif
