#include <arpa/inet.h>
#include <memory>
#include <string>
#include <sys/un.h>

#include <gtest/gtest.h>

#include "base/ztc/extensions.h"
#include "tests/base/ztc/guarded_buffer.hpp"

namespace {

sockaddr_in ipv4(const char *address, uint16_t port) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET, address, &in.sin_addr), 1) << address;
    return in;
}

sockaddr_in6 ipv6(const char *address, uint16_t port) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    EXPECT_EQ(inet_pton(AF_INET6, address, &in6.sin6_addr), 1) << address;
    return in6;
}

zt_sock_addr record(const sockaddr_in &in) {
    zt_sock_addr addr;
    zt_sock_addr_from_sockaddr_in(&addr, &in);
    return addr;
}

zt_sock_addr record(const sockaddr_in6 &in6) {
    zt_sock_addr addr;
    zt_sock_addr_from_sockaddr_in6(&addr, &in6);
    return addr;
}

struct record_case {
    zt_sock_addr addr;
    const char *full, *ip, *port;
};

const char *const zero6 = "0000:0000:0000:0000:0000:0000:0000:0000";

TEST(SockAddr, ViewsOfRecordsFromSystemAddresses) {
    zt_sock_addr family1;
    zt_sock_addr_init(&family1);
    family1.storage.ss_family = 1;
    const record_case cases[] = {
        {record(ipv4("192.168.1.2", 80)), "192.168.1.2:80", "192.168.1.2", "80"},
        {record(ipv4("192.168.1.2", 0)), "192.168.1.2", "192.168.1.2", "0"},
        {record(ipv4("0.0.0.0", 80)), "0.0.0.0:80", "0.0.0.0", "80"},
        {record(ipv4("0.0.0.0", 0)), "INVALID", "0.0.0.0", "0"},
        {record(ipv4("255.255.255.255", 65535)), "255.255.255.255:65535", "255.255.255.255",
         "65535"},
        {record(ipv6("2001:db8::1", 443)), "2001:0DB8:0000:0000:0000:0000:0000:0001:443",
         "2001:0DB8:0000:0000:0000:0000:0000:0001", "443"},
        {record(ipv6("::1", 0)), "0000:0000:0000:0000:0000:0000:0000:0001",
         "0000:0000:0000:0000:0000:0000:0000:0001", "0"},
        {record(ipv6("fe80::abcd:ef01", 8080)), "FE80:0000:0000:0000:0000:0000:ABCD:EF01:8080",
         "FE80:0000:0000:0000:0000:0000:ABCD:EF01", "8080"},
        {record(ipv6("::", 443)), "INVALID", zero6, "443"},
        {family1, "INVALID", "null", "0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.full);
        ztc_test::expect_text("zt_sock_addr", zt_printf_cb_zt_sock_addr, &c.addr, c.full);
        ztc_test::expect_text("zt_sock_addr:ip", zt_printf_cb_zt_sock_addr_ip, &c.addr, c.ip);
        ztc_test::expect_text("zt_sock_addr:port", zt_printf_cb_zt_sock_addr_port, &c.addr, c.port);
        for (zt_printf_cb cb : {zt_printf_cb_zt_sock_addr, zt_printf_cb_zt_sock_addr_ip,
                                zt_printf_cb_zt_sock_addr_port})
            EXPECT_TRUE(ztc_test::cuts_cleanly(cb, &c.addr));
    }
    ztc_test::expect_text("zt_sock_addr", zt_printf_cb_zt_sock_addr, nullptr, "NULL");
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

TEST(SockAddr, Ipv6PortSuffixFallsAwayInAFullBuffer) {
    const zt_sock_addr addr = record(ipv6("2001:db8::1", 443));
    const auto out = ztc_test::call_guarded(zt_printf_cb_zt_sock_addr, &addr, 40);
    EXPECT_TRUE(out.fenced);
    EXPECT_EQ(out.text, "2001:0DB8:0000:0000:0000:0000:0000:0001");
    EXPECT_EQ(out.result, 43);
    // A cut address stops at the group where the space ran out.
    const auto cut = ztc_test::call_guarded(zt_printf_cb_zt_sock_addr_ip, &addr, 12);
    EXPECT_EQ(cut.text, "2001:0DB8:0");
    EXPECT_EQ(cut.result, 14);
}

// The caller's object is exactly as large as its family's form, on the heap, so an over-read
// is caught by the address sanitizer.
template <typename T>
void expect_sockaddr(const T &value, const char *want) {
    auto exact = std::make_unique<T>(value);
    ztc_test::expect_text("sockaddr", zt_printf_cb_sockaddr, exact.get(), want);
}

TEST(SystemSockaddr, ReadsEachFamilyAsItsOwnForm) {
    expect_sockaddr(ipv4("10.1.2.3", 8080), "10.1.2.3:8080");
    expect_sockaddr(ipv4("0.0.0.0", 0), "INVALID");
    expect_sockaddr(ipv6("2001:db8::42", 443), "2001:0DB8:0000:0000:0000:0000:0000:0042:443");
    expect_sockaddr(ipv6("::ffff:1.2.3.4", 0), "0000:0000:0000:0000:0000:FFFF:0102:0304");
    expect_sockaddr(sa_family_t{AF_UNIX}, "Unhandled sa_family 1");
    expect_sockaddr(sa_family_t{AF_UNSPEC}, "Unhandled sa_family 0");
    expect_sockaddr(sa_family_t{65535}, "Unhandled sa_family 65535");
    const sockaddr_in6 in6 = ipv6("2001:db8::42", 443);
    EXPECT_TRUE(ztc_test::cuts_cleanly(zt_printf_cb_sockaddr, &in6));
}

TEST(Ipv4Address, DottedDecimalCutToTheBuffer) {
    for (const char *text : {"0.0.0.0", "10.0.0.255", "255.255.255.255"}) {
        in_addr address;
        ASSERT_EQ(inet_pton(AF_INET, text, &address), 1);
        ztc_test::expect_text("ip", zt_printf_cb_ip, &address, text);
        EXPECT_TRUE(ztc_test::cuts_cleanly(zt_printf_cb_ip, &address));
    }
}

} // namespace
