// Fork while other threads print or register: every lock of the library is taken before the
// fork, in the one order (the output list, the thread numbers, the registry), so the child
// inherits them free and the data they guard whole. Output locks are only ever held under
// the list lock, so holding that lock means no output lock is held.
#include <pthread.h>
#include <stdlib.h>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/extensions/startup.hpp"
#include "base/ztc/os/printf/internal.hpp"

namespace {
void before_fork() {
    pthread_mutex_lock(&debug_output_list_lock);
    ztc::debug::lock_thread_numbers_for_fork();
    ztc::printf_engine::registry_lock_for_fork();
}

void in_parent() {
    ztc::printf_engine::registry_unlock_after_fork();
    ztc::debug::unlock_thread_numbers_after_fork();
    pthread_mutex_unlock(&debug_output_list_lock);
}

// The plain locks are this thread's to release; the number flags of the parent's other
// threads stay taken, so those numbers are not reused.
void in_child() {
    ztc::printf_engine::registry_unlock_after_fork();
    ztc::debug::unlock_thread_numbers_after_fork();
    // A recursive lock knows its owner by thread id, which is new in the child: made anew.
    pthread_mutexattr_t recursive;
    pthread_mutexattr_init(&recursive);
    pthread_mutexattr_settype(&recursive, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&debug_output_list_lock, &recursive);
    pthread_mutexattr_destroy(&recursive);
    ztc::debug::reset_list_readers_in_child();
    ztc::debug::drop_file_buffers_in_child();
}
} // namespace

namespace ztc::startup {
void install_fork_handlers() {
    pthread_atfork(before_fork, in_parent, in_child);
    // Lines still buffered in file outputs are written out when the program exits.
    atexit(ztc::debug::flush_files_at_exit);
}
} // namespace ztc::startup
