#ifndef ZTC_OS_PRINTF_H
#define ZTC_OS_PRINTF_H

#include <stdarg.h>
#include <stddef.h>
#include <sys/types.h>
#include <wchar.h>

#include "base/ztc/error.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its public names are exported. */
#pragma GCC visibility push(default)

/* Argument types of conversion records. */
enum {
    ZT_PRINTF_TYPE_INVALID = 0,
    ZT_PRINTF_TYPE_NONE = 1,
    ZT_PRINTF_TYPE_INT = 2,
    ZT_PRINTF_TYPE_UINT = 3,
    ZT_PRINTF_TYPE_DOUBLE = 4,
    ZT_PRINTF_TYPE_CHAR = 5,
    ZT_PRINTF_TYPE_STRING = 6,
    ZT_PRINTF_TYPE_POINTER = 7,
    ZT_PRINTF_TYPE_COUNT = 8,
    ZT_PRINTF_TYPE_ERRNO = 9,
    ZT_PRINTF_TYPE_WIDTH = 10,
    ZT_PRINTF_TYPE_PRECISION = 11
};

/* How a format numbers its arguments. */
enum {
    ZT_PRINTF_ARG_NUMBERING_UNKNOWN = 0,
    ZT_PRINTF_ARG_NUMBERING_SEQUENTIAL = 1,
    ZT_PRINTF_ARG_NUMBERING_POSITIONAL = 2
};

/* Length modifier codes. */
enum {
    ZT_PRINTF_LEN_NONE = 0,
    ZT_PRINTF_LEN_H = 1,
    ZT_PRINTF_LEN_HH = 2,
    ZT_PRINTF_LEN_L = 3,
    ZT_PRINTF_LEN_LL = 4,
    ZT_PRINTF_LEN_CAPITAL_L = 5,
    ZT_PRINTF_LEN_J = 6,
    ZT_PRINTF_LEN_Z = 7,
    ZT_PRINTF_LEN_T = 8,
    ZT_PRINTF_LEN_I32 = 9,
    ZT_PRINTF_LEN_I64 = 10
};

/* An extension formatter: writes a NUL-terminated text of at most size-1 bytes. */
typedef int (*zt_printf_cb)(const void *value, char *buf, size_t size);

/* Registers a formatter reached by "%p{name}"; names are 1 to 19 characters. */
error_code_t zt_printf_register(const char *name, zt_printf_cb cb);

int zt_vsprintf(char *buf, size_t size, const char *fmt, va_list ap);
int zt_snprintf(char *buf, size_t size, const char *fmt, ...);
/* Formats into a wide buffer of `capacity` characters through a UTF-8 scratch of 4 bytes per
 * character. Returns the characters written (a terminator follows when fewer than `capacity`),
 * or -1 for a null buffer, a capacity of 0, or a text that does not convert into `capacity`
 * characters. The scratch is taken from the caller's stack up to 16 KiB (a capacity of 4096)
 * and from the heap above that; when the heap has no room the call returns -1 and leaves `buf`
 * untouched. */
ssize_t zt_vswprintf(wchar_t *buf, size_t capacity, const char *fmt, va_list ap);
ssize_t zt_swprintf(wchar_t *buf, size_t capacity, const char *fmt, ...);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
