// The engine's entry points into a wide buffer.
#include <alloca.h>

#include <cstdlib>

#include "base/ztc/os/path.h"
#include "base/ztc/os/printf.h"

namespace {

// Wide targets whose UTF-8 scratch needs up to this many bytes take it from the stack.
constexpr size_t STACK_SCRATCH_BYTES = 16384;

ssize_t utf8_to_wide(wchar_t *buf, size_t capacity, const char *text) {
    const size_t written = zt_utf8_to_wcs(buf, text, capacity);
    return written == ZT_UTF_ERROR ? -1 : static_cast<ssize_t>(written);
}

} // namespace

extern "C" ssize_t zt_vswprintf(wchar_t *buf, size_t capacity, const char *fmt, va_list ap) {
    if (buf == nullptr || capacity == 0) return -1;
    // Each wide character takes at most 4 bytes of UTF-8.
    if (capacity > (SIZE_MAX / 4)) capacity = SIZE_MAX / 4;
    const size_t scratch_size = 4 * capacity;
    if (scratch_size <= STACK_SCRATCH_BYTES) {
        // Only the stack the call needs: a small call stays safe on a small thread stack.
        char *scratch = static_cast<char *>(alloca(scratch_size));
        zt_vsprintf(scratch, scratch_size, fmt, ap);
        return utf8_to_wide(buf, capacity, scratch);
    }
    // A capacity this large does not belong on the stack.
    char *scratch = static_cast<char *>(malloc(scratch_size));
    if (scratch == nullptr) return -1;
    zt_vsprintf(scratch, scratch_size, fmt, ap);
    const ssize_t result = utf8_to_wide(buf, capacity, scratch);
    free(scratch);
    return result;
}

extern "C" ssize_t zt_swprintf(wchar_t *buf, size_t capacity, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const ssize_t result = zt_vswprintf(buf, capacity, fmt, ap);
    va_end(ap);
    return result;
}
