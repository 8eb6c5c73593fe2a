// Outputs that the library opens (files, syslog, the journal) and releases again.
#ifndef ZTC_DEBUG_OPENED_OUTPUT_H
#define ZTC_DEBUG_OPENED_OUTPUT_H

#include <atomic>

#include "base/ztc/debug/debug_internal.hpp"

namespace ztc::debug {

enum class OpenedKind { file, syslog, journal };

// The record's user data points back here; its callback tells which kind it is.
struct OpenedOutput {
    explicit OpenedOutput(OpenedKind kind) : kind(kind) {}
    debug_output_t record{};
    const OpenedKind kind;
    std::atomic<uint64_t> dropped{0};
};

// The callbacks that mark a record as opened by the library.
int file_write(intptr_t user, const void *bytes, size_t len);
void syslog_deliver(intptr_t user, int thread_num, const char *thread_name,
                    const struct timeval *tv, const char *time_text, int module, int level,
                    const char *file, int line, const char *function, const char *message);
void journal_deliver(intptr_t user, int thread_num, const char *thread_name,
                     const struct timeval *tv, const char *time_text, int module, int level,
                     const char *file, int line, const char *function, const char *message);

// The opened output behind a record, or null for any other record.
OpenedOutput *opened_of(const debug_output_t *output);

// Releasing, once the record is out of the list.
void release_file(OpenedOutput *opened);
void release_syslog(OpenedOutput *opened);
void release_journal(OpenedOutput *opened);

// The priority of syslog and the journal for a level: 1 error, 2 warning, 3 notice, 4 info,
// higher debug.
int syslog_priority(int level);

} // namespace ztc::debug

#endif
