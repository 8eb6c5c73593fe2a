#include <cstring>
#include <string>
#include <sys/time.h>
#include <vector>

#include <gtest/gtest.h>

#include "base/ztc/error.h"
#include "base/ztc/extensions.h"
#include "tests/base/ztc/guarded_buffer.hpp"

namespace {

struct error_case {
    error_code_t code;
    const char *message;
};

const error_case error_cases[] = {
    {ERROR_SUCCESS, "Success"},
    {ERROR_UNKNOWN, "Unknown error"},
    {ERROR_INVALID_ARGUMENT, "Invalid argument"},
    {ERROR_NOT_SUPPORTED, "Operation not supported"},
    {ERROR_OUT_OF_MEMORY, "Out of memory"},
    {ERROR_INSUFFICIENT_RESOURCES, "Insufficient resources"},
    {ERROR_NOT_ALLOWED, "Not allowed"},
    {ERROR_NOT_FOUND, "Not found"},
    {ERROR_NOT_CONNECTED, "Not connected"},
    {ERROR_END_OF_FILE, "End of file"},
    {ERROR_IO, "I/O error"},
    {ERROR_IN_USE, "Already in use"},
    {ERROR_TRY_AGAIN, "Try again"},
    {ERROR_SYNTAX, "Syntax error"},
    {ERROR_NO_DATA, "No data available"},
    {ERROR_NO_DATA_NOW, "No data available right now"},
    {ERROR_INTRA_FRAME_NEEDED, "Intra frame needed"},
    {ERROR_SEQUENCE_GAP, "Gap in sequence numbers"},
    {ERROR_OLD_SEQUENCE, "Old sequence number"},
    {ERROR_TIMEOUT, "Timeout"},
    {ERROR_SYNCHRONISATION, "Synchronisation error"},
    {ERROR_VERSION_MISMATCH, "Version mismatch"},
    {ERROR_UNSUPPORTED, "Not support"},
    {ERROR_ALREADY_EXISTS, "Already exists"},
    {ERROR_CANCELLED, "Cancelled"},
    {ERROR_AUTHENTICATION, "Authentication failure"},
    {ERROR_NOT_OPENED, "Not opened"},
    {27, "Invalid error code 27"},
    {ERROR_NOT_INITIALISED, "Not initialised"},
    {ERROR_PLAYBACK, "Playback error"},
    {ERROR_RECORDING, "Recording error"},
    {ERROR_TRUNCATED, "Truncated"},
    {ERROR_WRONG_TYPE, "Wrong type"},
    {ERROR_OVERFLOW, "Overflow"},
    // Out of range, either side, never indexes past the table.
    {34, "Invalid error code"},
    {35, "Invalid error code"},
    {100, "Invalid error code"},
    {-1, "Invalid error code"},
    {INT32_MIN, "Invalid error code"},
};

TEST(ErrorCodes, MessageAndFormattedText) {
    for (const auto &c : error_cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(zt_error_message(c.code), c.message);
        const std::string want = "[" + std::to_string(c.code) + "]" + c.message;
        ztc_test::expect_text("error", zt_printf_cb_error_code_t, &c.code, want);
    }
}

using bytes = std::vector<unsigned char>;

template <typename T>
bytes bytes_of(const T &value) {
    bytes b(sizeof value);
    memcpy(b.data(), &value, sizeof value);
    return b;
}

bytes fw(uint32_t type, uint32_t flag, uint32_t major, uint32_t minor, uint32_t patch,
         uint32_t build) {
    return bytes_of(type << 29 | flag << 28 | major << 23 | minor << 16 | patch << 8 | build);
}

struct formatter_cases {
    const char *name; // null: reached only by a direct call
    zt_printf_cb cb;
    std::vector<std::pair<bytes, const char *>> rows;
};

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "numbers below are little-endian");

const formatter_cases value_cases[] = {
    {"mac_address",
     zt_printf_cb_mac_address,
     {{{0x00, 0x1A, 0x2B, 0x0C, 0x0D, 0xEF}, "00:1A:2B:0C:0D:EF"}}},
    {"fw",
     zt_printf_cb_fw,
     {{fw(7, 0, 1, 2, 3, 4), "1.2.3"},
      {fw(7, 1, 1, 2, 3, 4), "1.2.3U"},
      {fw(0, 0, 1, 2, 3, 4), "1.2.3d4"},
      {fw(1, 1, 1, 2, 3, 4), "1.2.3a4U"},
      {fw(2, 0, 1, 2, 3, 4), "1.2.3b4"},
      {fw(3, 0, 1, 2, 3, 4), "1.2.3rc4"},
      {fw(4, 0, 1, 2, 3, 4), "1.2.3??4"},
      {fw(6, 1, 1, 2, 3, 4), "1.2.3??4U"},
      {fw(0, 0, 31, 127, 255, 255), "31.127.255d255"},
      {bytes_of(uint32_t{0}), "0.0.0d0"},
      {bytes_of(uint32_t{0xFFFFFFFF}), "31.127.255U"}}},
    {"four_char_code",
     zt_printf_cb_four_char_code,
     {{{'a', 'b', 'c', 'd'}, "'abcd'"},
      {{' ', ' ', ' ', ' '}, "'    '"},
      {{'~', '~', '~', '~'}, "'~~~~'"},
      {{0x61, 0x62, 0x01, 0x64}, "1677812321"},
      {{0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {{'a', 'b', 'c', 0x7F}, "2137219681"},
      {{'a', 'b', 'c', 0x80}, "2153996897"},
      {{0x1F, 'b', 'c', 'd'}, "1684234783"}}},
    // Longer than a registry name may be.
    {nullptr,
     zt_printf_cb_signed_four_char_code,
     {{{'a', 'b', 'c', 'd'}, "'abcd'"},
      {{0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
      {{'a', 'b', 'c', 0x80}, "-2140970399"}}},
    {"timeval",
     zt_printf_cb_timeval,
     {{bytes_of(timeval{12, 34}), "12.000034"},
      // Both fields are taken as 32-bit ints.
      {bytes_of(timeval{(1L << 32) + 7, 0}), "7.000000"}}},
    {"ignore", zt_printf_cb_ignore, {{{}, ""}}},
};

TEST(ValueFormatters, TextsByCallAndByName) {
    for (const auto &f : value_cases) {
        for (const auto &[value, text] : f.rows) {
            SCOPED_TRACE(text);
            ztc_test::expect_text(f.name, f.cb, value.data(), text);
        }
        // A null value is not read; "ignore" never reads it.
        ztc_test::expect_text(f.name, f.cb, nullptr, f.cb == zt_printf_cb_ignore ? "" : "(null)");
    }
}

} // namespace
