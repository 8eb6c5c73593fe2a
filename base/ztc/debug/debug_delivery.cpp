// The write loop shared by the text and binary writers.
#include "base/ztc/debug/debug_internal.hpp"

namespace ztc::debug {

void deliver(const debug_output_t *output, pthread_mutex_t *lock, debug_write_cb write,
             intptr_t user, const char *bytes, size_t len) {
    if (write == nullptr || len == 0) return;
    BusyScope busy(output);
    if (!busy.entered()) return;
    // The list lock first, even for a print to this output alone: a callback that prints to
    // all outputs then takes nothing in the other order, and removal, which holds the list
    // lock, knows that no thread is inside the writer.
    LockGuard list(&debug_output_list_lock);
    if (__atomic_load_n(&output->next, __ATOMIC_RELAXED) == &retired_output) return;
    LockGuard guard(lock);
    size_t done = 0;
    while (done < len) {
        int taken = write(user, bytes + done, len - done);
        // Refused: the rest is dropped. A callback claiming more than offered ends the line too.
        if (taken <= 0 || static_cast<size_t>(taken) > len - done) break;
        done += static_cast<size_t>(taken);
    }
}

} // namespace ztc::debug
