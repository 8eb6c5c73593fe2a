// Formatters for plain values: error codes, MAC addresses, firmware words, four-character
// codes, timevals, and the formatter that prints nothing.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/time.h>

#include "base/ztc/error.h"
#include "base/ztc/extensions.h"
#include "base/ztc/extensions/null_value.hpp"

namespace {

template <typename T>
T read_value(const void *value) {
    T v;
    memcpy(&v, value, sizeof v);
    return v;
}

// Release types 0..6; type 7 marks a final version and carries neither letters nor build.
constexpr std::array<const char *, 7> release_letters = {"d", "a", "b", "rc", "??", "??", "??"};
constexpr uint32_t final_release = 7;

// isprint on the byte taken as signed char; in the default locale no negative char is
// printable, and passing one to isprint would be outside its domain.
bool printable(unsigned char byte) {
    const auto c = static_cast<signed char>(byte);
    return c >= 0 && isprint(c);
}

bool all_printable(const std::array<unsigned char, 4> &bytes) {
    for (unsigned char b : bytes)
        if (!printable(b)) return false;
    return true;
}

} // namespace

extern "C" {

int zt_printf_cb_error_code_t(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    const auto code = read_value<error_code_t>(value);
    return snprintf(buf, size, "[%d]%s", code, zt_error_message(code));
}

int zt_printf_cb_mac_address(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    const auto b = read_value<std::array<unsigned char, 6>>(value);
    return snprintf(buf, size, "%2.2X:%2.2X:%2.2X:%2.2X:%2.2X:%2.2X", b[0], b[1], b[2], b[3], b[4],
                    b[5]);
}

int zt_printf_cb_fw(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    const auto word = read_value<uint32_t>(value);
    const uint32_t type = word >> 29;
    const char *suffix = (word >> 28) & 1 ? "U" : "";
    const uint32_t major = (word >> 23) & 0x1F;
    const uint32_t minor = (word >> 16) & 0x7F;
    const uint32_t patch = (word >> 8) & 0xFF;
    if (type == final_release)
        return snprintf(buf, size, "%u.%u.%u%s", major, minor, patch, suffix);
    return snprintf(buf, size, "%u.%u.%u%s%u%s", major, minor, patch, release_letters[type],
                    word & 0xFF, suffix);
}

int zt_printf_cb_four_char_code(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    const auto b = read_value<std::array<unsigned char, 4>>(value);
    if (all_printable(b)) return snprintf(buf, size, "'%c%c%c%c'", b[0], b[1], b[2], b[3]);
    return snprintf(buf, size, "%u", read_value<uint32_t>(value));
}

int zt_printf_cb_signed_four_char_code(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    const auto b = read_value<std::array<unsigned char, 4>>(value);
    if (all_printable(b)) return snprintf(buf, size, "'%c%c%c%c'", b[0], b[1], b[2], b[3]);
    return snprintf(buf, size, "%i", read_value<int32_t>(value));
}

int zt_printf_cb_timeval(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    const auto tv = read_value<struct timeval>(value);
    return snprintf(buf, size, "%i.%06i", static_cast<int32_t>(tv.tv_sec),
                    static_cast<int32_t>(tv.tv_usec));
}

int zt_printf_cb_ignore(const void *, char *buf, size_t size) {
    if (size > 0) buf[0] = '\0';
    return 0;
}

} // extern "C"
