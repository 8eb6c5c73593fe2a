// External writer: the print's fields go to the owner's callback; no lock of its own.
#include <errno.h>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/os/printf.h"

extern "C" void debug_print_external(debug_output_t *output, int thread_num,
                                     const char *thread_name, const struct timeval *tv,
                                     const char *time_text, int module, int level, const char *file,
                                     int line, const char *function, const char *fmt, va_list ap) {
    if (output == nullptr || output->u.external.callback == nullptr) return;
    char message[DEBUG_BUFFER_SIZE];
    zt_vsprintf(message, sizeof message, fmt != nullptr ? fmt : "", ap);
    ztc::debug::BusyScope busy(output);
    if (!busy.entered()) return;
    output->u.external.callback(
        output->u.external.user, thread_num, thread_name != nullptr ? thread_name : "", tv,
        time_text != nullptr ? time_text : "", module, level, file != nullptr ? file : "", line,
        function != nullptr ? function : "", message);
}
