// Fixed-capacity wide paths and the small wide-text operations they are built from.
#include "base/ztc/os/path.h"

#include <algorithm>

namespace {
constexpr wchar_t kSeparator = L'/';
} // namespace

extern "C" {

size_t zt_wcslen(const wchar_t *text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

void zt_wcscpy(wchar_t *dst, const wchar_t *src) {
    size_t i = 0;
    do {
        dst[i] = src[i];
    } while (src[i++] != 0);
}

wchar_t *zt_wcschr(const wchar_t *text, wchar_t c) {
    if (c == 0) return nullptr;
    for (; *text != 0; ++text) {
        if (*text == c) return const_cast<wchar_t *>(text);
    }
    return nullptr;
}

size_t zt_wcsnlen(const wchar_t *text, size_t max) {
    if (text == nullptr) return 0;
    size_t n = 0;
    while (n < max && text[n] != 0) ++n;
    return n;
}

void zt_wcsncpy(wchar_t *dst, const wchar_t *src, size_t max) {
    if (max == 0) return;
    // A missing source is copied as the empty text rather than read through.
    if (src == nullptr) {
        dst[0] = 0;
        return;
    }
    const size_t n = std::min(max, zt_wcsnlen(src, max) + 1);
    std::copy_n(src, n, dst);
}

size_t zt_path_from_utf8(zt_path_t *path, const char *utf8) {
    if (path == nullptr) return ZT_UTF_ERROR;
    if (utf8 == nullptr) {
        path->chars[0] = 0;
        return ZT_UTF_ERROR;
    }
    const size_t n = zt_utf8_to_wcs(path->chars, utf8, ZT_PATH_SLOTS);
    if (n == ZT_UTF_ERROR || n >= ZT_PATH_SLOTS) {
        // A half-decoded prefix could name another file: leave nothing.
        path->chars[0] = 0;
        return ZT_UTF_ERROR;
    }
    path->chars[n] = 0;
    return n;
}

void zt_path_from_wide(zt_path_t *path, const wchar_t *text) {
    zt_wcsncpy(path->chars, text, ZT_PATH_SLOTS);
    path->chars[ZT_PATH_SLOTS - 1] = 0;
}

void zt_path_copy(zt_path_t *dst, const zt_path_t *src) {
    *dst = *src;
}

error_code_t zt_path_append(zt_path_t *path, const wchar_t *component) {
    if (path == nullptr || component == nullptr) return ERROR_INVALID_ARGUMENT;
    // Anything of 512 characters or more cannot fit, so the scan stops there.
    const size_t n = zt_wcsnlen(component, ZT_PATH_SLOTS);
    size_t k = zt_wcsnlen(path->chars, ZT_PATH_SLOTS);
    if (k == 0) {
        if (n + 1 > ZT_PATH_SLOTS) return ERROR_OUT_OF_MEMORY;
        std::copy_n(component, n, path->chars);
        path->chars[n] = 0;
        return ERROR_SUCCESS;
    }
    while (k > 0 && path->chars[k - 1] == kSeparator) --k;
    if (k + 1 + n + 1 > ZT_PATH_SLOTS) return ERROR_OUT_OF_MEMORY;
    path->chars[k] = kSeparator;
    std::copy_n(component, n, path->chars + k + 1);
    path->chars[k + 1 + n] = 0;
    return ERROR_SUCCESS;
}

const wchar_t *zt_path_str(const zt_path_t *path) {
    return path->chars;
}

} // extern "C"
