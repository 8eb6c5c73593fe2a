#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "base/ztc/extensions.h"
#include "tests/base/ztc/guarded_buffer.hpp"

namespace {

using namespace ztc_test;

struct endpoint_case {
    const char *address; // IPv4 or IPv6
    uint16_t port;
    const char *full, *ip;
};

const endpoint_case endpoint_cases[] = {
    {"192.168.1.2", 80, "192.168.1.2:80", "192.168.1.2"},
    {"192.168.1.2", 0, "192.168.1.2", "192.168.1.2"},
    {"0.0.0.0", 80, "0.0.0.0:80", "0.0.0.0"},
    {"0.0.0.0", 0, "INVALID", "0.0.0.0"},
    {"255.255.255.255", 65535, "255.255.255.255:65535", "255.255.255.255"},
    {"2001:db8::abcd:ef01", 443, "2001:0DB8:0000:0000:0000:0000:ABCD:EF01:443",
     "2001:0DB8:0000:0000:0000:0000:ABCD:EF01"},
    {"::1", 0, "0000:0000:0000:0000:0000:0000:0000:0001",
     "0000:0000:0000:0000:0000:0000:0000:0001"},
    {"::", 443, "INVALID", "0000:0000:0000:0000:0000:0000:0000:0000"},
};

// The system form lies on the heap at its exact size, so an over-read is caught by the address
// sanitizer; the record is converted from it.
template <typename T>
void expect_endpoint(const endpoint_case &c, const T &system) {
    const auto exact = std::make_unique<T>(system);
    constexpr bool v4 = std::is_same_v<T, sockaddr_in>;
    zt_sock_addr addr;
    if constexpr (v4)
        zt_sock_addr_from_sockaddr_in(&addr, exact.get());
    else
        zt_sock_addr_from_sockaddr_in6(&addr, exact.get());
    expect_text("sockaddr", zt_printf_cb_sockaddr, exact.get(), c.full);
    expect_text("zt_sock_addr", zt_printf_cb_zt_sock_addr, &addr, c.full);
    // The complete text's length at size 0 too, where nothing is written.
    EXPECT_EQ(call_guarded(zt_printf_cb_sockaddr, exact.get(), 0).result, int(strlen(c.full)));
    EXPECT_EQ(call_guarded(zt_printf_cb_zt_sock_addr, &addr, 0).result, int(strlen(c.full)));
    // A cut IPv6 address alone counts only the groups begun (see
    // Ipv6TextStopsWhereTheSpaceRunsOut).
    expect_text("zt_sock_addr:ip", zt_printf_cb_zt_sock_addr_ip, &addr, c.ip,
                v4 ? result_rule::full_length : result_rule::unchecked);
    expect_text("zt_sock_addr:port", zt_printf_cb_zt_sock_addr_port, &addr, std::to_string(c.port));
}

sockaddr_in6 ipv6(const char *address, uint16_t port) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET6, address, &in6.sin6_addr), 1) << address;
    return in6;
}

sockaddr_in ipv4(const char *address, uint16_t port) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, address, &in.sin_addr), 1) << address;
    return in;
}

TEST(SockAddr, EndpointsFromSystemAddresses) {
    for (const auto &c : endpoint_cases) {
        SCOPED_TRACE(c.full);
        if (strchr(c.address, ':'))
            expect_endpoint(c, ipv6(c.address, c.port));
        else
            expect_endpoint(c, ipv4(c.address, c.port));
    }
}

// inet_ntop gives no text into a buffer too small for the whole address: the empty text, and
// the complete text's length.
TEST(SockAddr, IpTextIsWholeOrEmpty) {
    const unsigned char address[4] = {192, 168, 1, 10};
    const std::string full = "192.168.1.10";
    EXPECT_EQ(by_name("ip", address), full);
    for (size_t size = 0; size <= full.size() + 1; ++size) {
        const auto out = call_guarded(zt_printf_cb_ip, address, size);
        EXPECT_EQ(out.text, size > full.size() ? full : "") << size;
        EXPECT_TRUE(out.fenced && out.terminated) << size;
        EXPECT_EQ(out.result, static_cast<int>(full.size())) << size;
    }
}

TEST(SockAddr, NoAddressInOtherFamilies) {
    zt_sock_addr family1;
    zt_sock_addr_init(&family1);
    family1.storage.ss_family = 1;
    expect_text("zt_sock_addr", zt_printf_cb_zt_sock_addr, &family1, "INVALID");
    expect_text("zt_sock_addr:ip", zt_printf_cb_zt_sock_addr_ip, &family1, "null");
    expect_text("zt_sock_addr:port", zt_printf_cb_zt_sock_addr_port, &family1, "0");
    // Only the family field of a system address is read.
    for (sa_family_t family : {AF_UNIX, AF_UNSPEC, 65535}) {
        const auto exact = std::make_unique<sa_family_t>(family);
        expect_text("sockaddr", zt_printf_cb_sockaddr, exact.get(),
                    "Unhandled sa_family " + std::to_string(family));
    }
    expect_text("zt_sock_addr", zt_printf_cb_zt_sock_addr, nullptr, "NULL");
    for (zt_printf_cb cb : {zt_printf_cb_ip, zt_printf_cb_zt_sock_addr_ip,
                            zt_printf_cb_zt_sock_addr_port, zt_printf_cb_sockaddr})
        EXPECT_EQ(full_text(cb, nullptr), "(null)");
}

TEST(SockAddr, ConversionClearsTheRestOfTheRecord) {
    zt_sock_addr addr;
    memset(&addr, 0xFF, sizeof addr);
    const sockaddr_in in = ipv4("1.2.3.4", 5);
    zt_sock_addr_from_sockaddr_in(&addr, &in);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&addr);
    for (size_t i = sizeof in; i < sizeof addr; ++i) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(sizeof(zt_sock_addr), sizeof(sockaddr_storage));
}

TEST(SockAddr, Ipv6TextStopsWhereTheSpaceRunsOut) {
    zt_sock_addr addr;
    const sockaddr_in6 in6 = ipv6("2001:db8::1", 443);
    zt_sock_addr_from_sockaddr_in6(&addr, &in6);
    // The 39-character address fills 40 bytes; the port suffix is reduced to nothing.
    const auto full = call_guarded(zt_printf_cb_zt_sock_addr, &addr, 40);
    EXPECT_EQ(full.text, "2001:0DB8:0000:0000:0000:0000:0000:0001");
    EXPECT_EQ(full.result, 43);
    // The running total stops at the group where the space ran out.
    const auto cut = call_guarded(zt_printf_cb_zt_sock_addr_ip, &addr, 12);
    EXPECT_EQ(cut.text, "2001:0DB8:0");
    EXPECT_EQ(cut.result, 14);
    EXPECT_EQ(call_guarded(zt_printf_cb_zt_sock_addr_ip, &addr, 0).result, 0);
}

} // namespace
