// What the start-up registration leaves in the registry. Fills the registry, so it runs in a
// program of its own.
#include <array>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "base/ztc/extensions.h"
#include "base/ztc/os/printf.h"
#include "tests/base/ztc/guarded_buffer.hpp"

namespace {

TEST(StartupRegistration, SignedCodeIsRefusedAndElevenSlotsStayFree) {
    const unsigned char bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::string text = ztc_test::by_name("signed_four_char_code", bytes);
    EXPECT_NE(text.find("{signed_four_char_code}"), std::string::npos) << text;
    EXPECT_EQ(text.find("-1"), std::string::npos) << text;
    EXPECT_EQ(ztc_test::by_name("four_char_code", bytes), "4294967295");

    const zt_printf_cb mine = [](const void *, char *buf, size_t size) {
        return snprintf(buf, size, "mine");
    };
    const std::array<const char *, 11> names = {"x0", "x1", "x2", "x3", "x4", "x5",
                                                "x6", "x7", "x8", "x9", "ip"};
    for (const char *name : names) EXPECT_EQ(zt_printf_register(name, mine), ERROR_SUCCESS);
    EXPECT_EQ(zt_printf_register("x11", mine), ERROR_OUT_OF_MEMORY);
    EXPECT_EQ(ztc_test::by_name("x9", nullptr), "mine");
    // A standard name registered again still reaches its first slot.
    const in_addr address = {htonl(0x7F000001)};
    EXPECT_EQ(ztc_test::by_name("ip", &address), "127.0.0.1");
}

} // namespace
