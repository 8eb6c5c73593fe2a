// Syslog outputs: each print's message through the C library's syslog.
#include <errno.h>
#include <string.h>
#include <syslog.h>

#include <new>

#include "base/ztc/debug/opened_output.hpp"
#include "base/ztc/debug/outputs.h"

namespace ztc::debug {
namespace {
struct SyslogOutput : OpenedOutput {
    SyslogOutput() : OpenedOutput(OpenedKind::syslog) {}
    int facility = LOG_USER;
    bool has_ident = false;
    char ident[128] = "";
    SyslogOutput *older = nullptr; // the one opened before it that is still open
};

// openlog keeps the ident pointer: the output that gave the current one, the newest open
// one, and those opened before it, newest first. All under the list lock.
SyslogOutput *ident_owner = nullptr;

// A null ident lets the C library use the program's name; openlog would keep the previous
// output's ident instead, which closing that output frees.
void take_ident(SyslogOutput *out) {
    closelog();
    if (out != nullptr) openlog(out->has_ident ? out->ident : nullptr, LOG_PID, out->facility);
}
} // namespace

void syslog_deliver(intptr_t user, int, const char *, const struct timeval *, const char *, int,
                    int level, const char *, int, const char *, const char *message) {
    const auto *out = reinterpret_cast<const SyslogOutput *>(user);
    syslog(out->facility | syslog_priority(level), "%s", message);
}

void release_syslog(OpenedOutput *opened) {
    auto *out = static_cast<SyslogOutput *>(opened);
    {
        LockGuard list(&debug_output_list_lock);
        if (ident_owner == out) {
            // The output opened before it gives the ident again.
            ident_owner = out->older;
            take_ident(ident_owner);
        } else {
            for (SyslogOutput *o = ident_owner; o != nullptr; o = o->older) {
                if (o->older == out) {
                    o->older = out->older;
                    break;
                }
            }
        }
    }
    delete out;
}

} // namespace ztc::debug

using namespace ztc::debug;

extern "C" debug_output_t *debug_output_open_syslog(const char *name, const char *ident,
                                                    int facility) {
    if ((facility & ~LOG_FACMASK) != 0) {
        errno = EINVAL;
        return nullptr;
    }
    auto *out = new (std::nothrow) SyslogOutput;
    if (out == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    out->facility = facility;
    if (ident != nullptr) {
        out->has_ident = true;
        const size_t n = strnlen(ident, sizeof out->ident - 1);
        memcpy(out->ident, ident, n);
        out->ident[n] = '\0';
    }
    debug_output_init_external(&out->record, name, syslog_deliver, reinterpret_cast<intptr_t>(out));
    LockGuard list(&debug_output_list_lock);
    take_ident(out);
    out->older = ident_owner;
    ident_owner = out;
    debug_output_add(&out->record);
    return &out->record;
}
