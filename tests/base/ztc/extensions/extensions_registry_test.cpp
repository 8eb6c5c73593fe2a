// What the start-up registration leaves in the registry.
#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/ztc/os/printf/internal.hpp"
#include "tests/base/ztc/guarded_buffer.hpp"

namespace {

using namespace ztc::printf_engine;

// Start-up order; "signed_four_char_code", between "four_char_code" and "timeval", is refused
// for its length. Which formatter each name reaches, the formatter tests check by name.
constexpr char order[] = "error ip sockaddr zt_sock_addr zt_sock_addr:ip zt_sock_addr:port "
                         "mac_address fw four_char_code timeval ignore zt_dur_us zt_dur_ms "
                         "zt_dur_secs zt_dur_mins zt_dur zt_time zt_reltime zt_dur_pretty "
                         "zt_time_pretty zt_reltime_pretty";

TEST(StartupRegistration, TwentyOneSlotsInOrderAndElevenFree) {
    std::istringstream names(order);
    const RegistrySlot *first = registry_find("error");
    int slot = 0;
    for (std::string name; names >> name; ++slot) {
        const RegistrySlot *found = registry_find(name);
        EXPECT_TRUE(found && found - first == slot) << name;
    }
    EXPECT_EQ(slot, 21);
    EXPECT_EQ(REGISTRY_SLOTS - registry_slots_in_use(), 11);
    // The refused name is a plain pointer conversion followed by literal braces.
    const unsigned char bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::string text = ztc_test::by_name("signed_four_char_code", bytes);
    EXPECT_NE(text.find("{signed_four_char_code}"), std::string::npos) << text;
    EXPECT_EQ(text.find("-1"), std::string::npos) << text;
    // A standard name registered again keeps reaching its first slot.
    const zt_printf_cb other = [](const void *, char *buf, size_t size) {
        return snprintf(buf, size, "x");
    };
    EXPECT_EQ(zt_printf_register("ip", other), ERROR_SUCCESS);
    EXPECT_EQ(ztc_test::by_name("ip", bytes), "255.255.255.255");
}

} // namespace
