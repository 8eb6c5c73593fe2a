#include <array>
#include <cstring>
#include <string>
#include <sys/time.h>

#include <gtest/gtest.h>

#include "base/ztc/extensions.h"
#include "tests/base/ztc/guarded_buffer.hpp"

namespace {

using ztc_test::full_text;

TEST(MacAddress, UpperCaseHexInMemoryOrder) {
    const unsigned char cases[][6] = {{0x00, 0x1A, 0x2B, 0x0C, 0x0D, 0xEF},
                                      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                      {0, 0, 0, 0, 0, 1}};
    const char *texts[] = {"00:1A:2B:0C:0D:EF", "FF:FF:FF:FF:FF:FF", "00:00:00:00:00:01"};
    for (size_t i = 0; i < 3; ++i) {
        ztc_test::expect_text("mac_address", zt_printf_cb_mac_address, cases[i], texts[i]);
        EXPECT_TRUE(ztc_test::cuts_cleanly(zt_printf_cb_mac_address, cases[i]));
    }
}

constexpr uint32_t fw_word(uint32_t type, uint32_t flag, uint32_t major, uint32_t minor,
                           uint32_t patch, uint32_t build) {
    return type << 29 | flag << 28 | major << 23 | minor << 16 | patch << 8 | build;
}

TEST(FirmwareVersion, FieldsTypeLettersAndFlag) {
    const struct {
        uint32_t word;
        const char *text;
    } cases[] = {
        {fw_word(7, 0, 1, 2, 3, 4), "1.2.3"},
        {fw_word(7, 1, 1, 2, 3, 4), "1.2.3U"},
        {fw_word(0, 0, 1, 2, 3, 4), "1.2.3d4"},
        {fw_word(1, 1, 1, 2, 3, 4), "1.2.3a4U"},
        {fw_word(2, 0, 1, 2, 3, 4), "1.2.3b4"},
        {fw_word(3, 0, 1, 2, 3, 4), "1.2.3rc4"},
        {fw_word(4, 0, 1, 2, 3, 4), "1.2.3??4"},
        {fw_word(5, 0, 1, 2, 3, 4), "1.2.3??4"},
        {fw_word(6, 1, 1, 2, 3, 4), "1.2.3??4U"},
        {fw_word(0, 0, 31, 127, 255, 255), "31.127.255d255"},
        {0, "0.0.0d0"},
        {0xFFFFFFFF, "31.127.255U"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ztc_test::expect_text("fw", zt_printf_cb_fw, &c.word, c.text);
        EXPECT_TRUE(ztc_test::cuts_cleanly(zt_printf_cb_fw, &c.word));
    }
}

TEST(FourCharCode, QuotedWhenPrintableElseNumber) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "numbers below are little-endian");
    const struct {
        std::array<unsigned char, 4> bytes;
        const char *unsigned_text, *signed_text;
    } cases[] = {
        {{'a', 'b', 'c', 'd'}, "'abcd'", "'abcd'"},
        {{' ', ' ', ' ', ' '}, "'    '", "'    '"},
        {{'~', '~', '~', '~'}, "'~~~~'", "'~~~~'"},
        {{0x61, 0x62, 0x01, 0x64}, "1677812321", "1677812321"},
        {{0xFF, 0xFF, 0xFF, 0xFF}, "4294967295", "-1"},
        {{'a', 'b', 'c', 0x7F}, "2137219681", "2137219681"},
        {{'a', 'b', 'c', 0x80}, "2153996897", "-2140970399"},
        {{0x1F, 'b', 'c', 'd'}, "1684234783", "1684234783"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.unsigned_text);
        ztc_test::expect_text("four_char_code", zt_printf_cb_four_char_code, c.bytes.data(),
                              c.unsigned_text);
        EXPECT_EQ(full_text(zt_printf_cb_signed_four_char_code, c.bytes.data()), c.signed_text);
        EXPECT_TRUE(ztc_test::cuts_cleanly(zt_printf_cb_four_char_code, c.bytes.data()));
        EXPECT_TRUE(ztc_test::cuts_cleanly(zt_printf_cb_signed_four_char_code, c.bytes.data()));
    }
}

TEST(Timeval, SecondsAndPaddedMicroseconds) {
    const struct {
        timeval tv;
        const char *text;
    } cases[] = {
        {{12, 34}, "12.000034"},
        {{0, 999999}, "0.999999"},
        {{1700000000, 0}, "1700000000.000000"},
        // Both fields are taken as 32-bit ints.
        {{(1L << 32) + 7, 0}, "7.000000"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ztc_test::expect_text("timeval", zt_printf_cb_timeval, &c.tv, c.text);
        EXPECT_TRUE(ztc_test::cuts_cleanly(zt_printf_cb_timeval, &c.tv));
    }
    ztc_test::expect_text("timeval", zt_printf_cb_timeval, nullptr, "(null)");
}

TEST(Ignore, EmptyTextWithoutReadingTheValue) {
    EXPECT_TRUE(ztc_test::call_guarded(zt_printf_cb_ignore, nullptr, 0).untouched);
    const auto out = ztc_test::call_guarded(zt_printf_cb_ignore, nullptr, 4);
    EXPECT_TRUE(out.terminated);
    EXPECT_EQ(out.text, "");
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(ztc_test::by_name("ignore", nullptr), "");
}

TEST(NullValue, EveryValueFormatterDeclinesToRead) {
    for (zt_printf_cb cb : {zt_printf_cb_error_code_t, zt_printf_cb_ip, zt_printf_cb_sockaddr,
                            zt_printf_cb_zt_sock_addr_ip, zt_printf_cb_zt_sock_addr_port,
                            zt_printf_cb_mac_address, zt_printf_cb_fw, zt_printf_cb_four_char_code,
                            zt_printf_cb_signed_four_char_code, zt_printf_cb_timeval})
        EXPECT_EQ(full_text(cb, nullptr), "(null)");
}

} // namespace
