// Binary writer: one self-describing record per print, dropped whole when it does not fit.
#include <errno.h>

#include "base/ztc/debug/debug_internal.hpp"
#include "base/ztc/os/printf.h"

extern "C" void debug_print_binary(debug_output_t *output, int thread_num, const char *thread_name,
                                   const struct timeval *tv, int module, int level,
                                   const char *file, int line, const char *function,
                                   const char *fmt, va_list ap) {
    if (output == nullptr || tv == nullptr) return;
    int saved_errno = errno;
    // The thread name directly followed by the message.
    char text[DEBUG_BUFFER_SIZE];
    int name_len = zt_snprintf(text, sizeof text, "%s", thread_name != nullptr ? thread_name : "");
    size_t used = name_len < 0 ? 0 : static_cast<size_t>(name_len);
    if (used >= sizeof text) used = sizeof text - 1;
    text[used] = '\0';
    errno = saved_errno;
    zt_vsprintf(text + used, sizeof text - used, fmt != nullptr ? fmt : "", ap);

    uint8_t record[DEBUG_BUFFER_SIZE];
    size_t record_len = 0;
    if (debug_encode_binary(record, sizeof record, &record_len, thread_num, level, tv, module, file,
                            function, line, text) != ERROR_SUCCESS)
        return;
    ztc::debug::deliver(output, &output->u.binary.lock, output->u.binary.write,
                        output->u.binary.user, reinterpret_cast<const char *>(record), record_len);
}
