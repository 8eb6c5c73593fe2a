// What every opened output shares: telling it apart, its drop count, closing it.
#include <syslog.h>

#include "base/ztc/debug/opened_output.hpp"
#include "base/ztc/debug/outputs.h"

namespace ztc::debug {

OpenedOutput *opened_of(const debug_output_t *output) {
    if (output == nullptr) return nullptr;
    intptr_t user = 0;
    switch (output->type) {
    case DEBUG_OUTPUT_TEXT:
        if (output->u.text.write != file_write) return nullptr;
        user = output->u.text.user;
        break;
    case DEBUG_OUTPUT_BINARY:
        if (output->u.binary.write != file_write) return nullptr;
        user = output->u.binary.user;
        break;
    case DEBUG_OUTPUT_EXTERNAL:
        if (output->u.external.callback != syslog_deliver &&
            output->u.external.callback != journal_deliver)
            return nullptr;
        user = output->u.external.user;
        break;
    default:
        return nullptr;
    }
    return reinterpret_cast<OpenedOutput *>(user);
}

int syslog_priority(int level) {
    constexpr int kPriorities[] = {LOG_ERR, LOG_WARNING, LOG_NOTICE, LOG_INFO};
    if (level <= 1) return LOG_ERR;
    return level <= 4 ? kPriorities[level - 1] : LOG_DEBUG;
}

} // namespace ztc::debug

using namespace ztc::debug;

extern "C" void debug_output_close(debug_output_t *output) {
    OpenedOutput *opened = opened_of(output);
    if (opened == nullptr) return;
    // Not from inside its own delivery: that delivery still uses it.
    if (debug_output_remove(output) == ERROR_IN_USE) return;
    switch (opened->kind) {
    case OpenedKind::file:
        release_file(opened);
        break;
    case OpenedKind::syslog:
        release_syslog(opened);
        break;
    case OpenedKind::journal:
        release_journal(opened);
        break;
    }
}

extern "C" uint64_t debug_output_dropped(const debug_output_t *output) {
    const OpenedOutput *opened = opened_of(output);
    return opened != nullptr ? opened->dropped.load(std::memory_order_relaxed) : 0;
}
