// Bridges from wide paths to the operating system's UTF-8 file calls.
#include "base/ztc/os/path.h"

#include <cerrno>

namespace {
constexpr size_t kPathBytes = 1024;
constexpr size_t kModeBytes = 32;

// Encodes a wide text into buf as a terminated UTF-8 text. Returns 0, or the errno
// that explains why the OS must not be called: ENAMETOOLONG when the text and its
// terminator do not fit, ENOENT when it holds a value no file name can carry.
// On failure buf holds the empty text, so it is terminated whatever happens.
int encode_for_os(const wchar_t *text, size_t text_len, char *buf, size_t size) {
    if (size == 0) return ENAMETOOLONG;
    const wchar_t *src = text;
    char *dst = buf;
    const int rc = zt_utf32_to_utf8(&src, text + text_len, &dst, buf + size - 1, ZT_UTF_LENIENT);
    if (rc != ZT_UTF_OK) {
        buf[0] = 0;
        return rc == ZT_UTF_NO_ROOM ? ENAMETOOLONG : ENOENT;
    }
    *dst = 0;
    return 0;
}

// Every UTF-8 character takes at least one byte, so a text of size characters or
// more cannot fit a buffer of size bytes with its terminator; the scan stops there.
int encode_bounded(const wchar_t *text, char *buf, size_t size) {
    if (text == nullptr) {
        if (size > 0) buf[0] = 0;
        return EINVAL;
    }
    const size_t len = zt_wcsnlen(text, size);
    if (len == size) {
        if (size > 0) buf[0] = 0;
        return ENAMETOOLONG;
    }
    return encode_for_os(text, len, buf, size);
}
} // namespace

extern "C" {

char *zt_path_to_utf8(const zt_path_t *path, char *buf, size_t size) {
    if (buf == nullptr || size == 0) return buf;
    if (path == nullptr) {
        buf[0] = 0;
        return buf;
    }
    if (const int err =
            encode_for_os(path->chars, zt_wcsnlen(path->chars, ZT_PATH_SLOTS), buf, size);
        err != 0)
        errno = err;
    return buf;
}

int zt_path_stat(const wchar_t *path, struct stat *st) {
    char utf8[kPathBytes];
    if (st == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (const int err = encode_bounded(path, utf8, sizeof utf8); err != 0) {
        errno = err;
        return -1;
    }
    return stat(utf8, st);
}

bool zt_path_exists(const zt_path_t *path) {
    if (path == nullptr) return false;
    struct stat st;
    return zt_path_stat(path->chars, &st) == 0;
}

FILE *zt_fopen(const wchar_t *path, const wchar_t *mode) {
    char utf8[kPathBytes];
    char utf8_mode[kModeBytes];
    if (const int err = encode_bounded(path, utf8, sizeof utf8); err != 0) {
        errno = err;
        return nullptr;
    }
    if (encode_bounded(mode, utf8_mode, sizeof utf8_mode) != 0) {
        errno = EINVAL;
        return nullptr;
    }
    return fopen(utf8, utf8_mode);
}

size_t zt_fread(void *buf, size_t size, size_t count, FILE *file) {
    if (file == nullptr) {
        errno = EBADF;
        return 0;
    }
    return fread(buf, size, count, file);
}

int zt_fclose(FILE *file) {
    if (file == nullptr) {
        errno = EBADF;
        return EOF;
    }
    return fclose(file);
}

} // extern "C"
