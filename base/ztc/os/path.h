#ifndef ZTC_OS_PATH_H
#define ZTC_OS_PATH_H

#include <stdbool.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/stat.h>
#include <wchar.h>

#include "base/ztc/error.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its public names are exported. */
#pragma GCC visibility push(default)

/* Slots of a wide path, its terminator included. */
#define ZT_PATH_SLOTS 512

/* A fixed-capacity wide (UTF-32) path: a plain value, copied whole. */
typedef struct zt_path {
    wchar_t chars[ZT_PATH_SLOTS];
} zt_path_t;

/* Result codes of the cursor-based converters. */
enum { ZT_UTF_OK = 0, ZT_UTF_TRUNCATED = 1, ZT_UTF_NO_ROOM = 2, ZT_UTF_INVALID = 3 };

/* Conversion modes. */
enum { ZT_UTF_STRICT = 0, ZT_UTF_LENIENT = 1 };

/* Returned by the counting conversions on failure (all bits set). */
#define ZT_UTF_ERROR ((size_t)-1)

size_t zt_path_from_utf8(zt_path_t *path, const char *utf8);
void zt_path_from_wide(zt_path_t *path, const wchar_t *text);
void zt_path_copy(zt_path_t *dst, const zt_path_t *src);
error_code_t zt_path_append(zt_path_t *path, const wchar_t *component);
const wchar_t *zt_path_str(const zt_path_t *path);
/* The path as a terminated UTF-8 text in buf; returns buf. When it does not fit (or holds a
   value no file name can carry) buf holds the empty text and errno is ENAMETOOLONG (ENOENT). */
char *zt_path_to_utf8(const zt_path_t *path, char *buf, size_t size);
bool zt_path_exists(const zt_path_t *path);
int zt_path_stat(const wchar_t *path, struct stat *st);
FILE *zt_fopen(const wchar_t *path, const wchar_t *mode);
size_t zt_fread(void *buf, size_t size, size_t count, FILE *file);
int zt_fclose(FILE *file);

size_t zt_wcslen(const wchar_t *text);
void zt_wcscpy(wchar_t *dst, const wchar_t *src);
wchar_t *zt_wcschr(const wchar_t *text, wchar_t c);
size_t zt_wcsnlen(const wchar_t *text, size_t max);
void zt_wcsncpy(wchar_t *dst, const wchar_t *src, size_t max);

size_t zt_wcs_to_utf8(char *out, const wchar_t *text, size_t size);
size_t zt_utf8_to_wcs(wchar_t *out, const char *utf8, size_t capacity);
int zt_utf32_to_utf8(const wchar_t **src, const wchar_t *src_end, char **dst, char *dst_end,
                     int mode);
int zt_utf8_to_utf32(const char **src, const char *src_end, wchar_t **dst, wchar_t *dst_end,
                     int mode);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
