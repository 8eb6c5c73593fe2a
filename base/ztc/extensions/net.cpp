// Formatters for network addresses: "ip", "sockaddr" and the "zt_sock_addr" views.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

#include "base/ztc/extensions.h"
#include "base/ztc/extensions/null_value.hpp"

namespace {

const zt_sock_addr *as_record(const void *value) {
    return static_cast<const zt_sock_addr *>(value);
}

// Eight groups of four hex digits, each written at the end of what came before; stops once
// the running total reaches the buffer, so a cut text ends in the group that did not fit.
int write_ipv6(const in6_addr &address, char *buf, size_t size) {
    if (size == 0) return 0;
    size_t total = 0;
    for (int group = 0; group < 8 && total < size; ++group) {
        const unsigned value =
            (unsigned{address.s6_addr[2 * group]} << 8) | address.s6_addr[2 * group + 1];
        const int n = snprintf(buf + total, size - total, group == 0 ? "%04X" : ":%04X", value);
        if (n < 0) break;
        total += static_cast<size_t>(n);
    }
    return static_cast<int>(total);
}

// Eight groups of four digits and seven colons.
constexpr int kIpv6TextLength = 8 * 4 + 7;

int write_address(const zt_sock_addr *addr, char *buf, size_t size) {
    switch (zt_sock_addr_family(addr)) {
    case AF_INET: {
        sockaddr_in in;
        memcpy(&in, addr, sizeof in);
        const auto *b = reinterpret_cast<const unsigned char *>(&in.sin_addr);
        return snprintf(buf, size, "%hhu.%hhu.%hhu.%hhu", b[0], b[1], b[2], b[3]);
    }
    case AF_INET6: {
        sockaddr_in6 in6;
        memcpy(&in6, addr, sizeof in6);
        return write_ipv6(in6.sin6_addr, buf, size);
    }
    default:
        return snprintf(buf, size, "null");
    }
}

} // namespace

extern "C" {

int zt_printf_cb_ip(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    // inet_ntop gives no text into a buffer too small for the whole address, so such a buffer
    // gets the empty text; the result is still the complete text's length.
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, value, text, sizeof text)) text[0] = '\0';
    const size_t length = strlen(text);
    if (length < size) {
        memcpy(buf, text, length + 1);
    } else if (size != 0) {
        buf[0] = '\0';
    }
    return static_cast<int>(length);
}

int zt_printf_cb_zt_sock_addr_ip(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    return write_address(as_record(value), buf, size);
}

int zt_printf_cb_zt_sock_addr_port(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    return snprintf(buf, size, "%d", zt_sock_addr_port(as_record(value)));
}

int zt_printf_cb_zt_sock_addr(const void *value, char *buf, size_t size) {
    const zt_sock_addr *addr = as_record(value);
    if (!addr) return snprintf(buf, size, "NULL");
    if (!zt_sock_addr_valid(addr)) return snprintf(buf, size, "INVALID");
    int n = write_address(addr, buf, size);
    if (n < 0) return n;
    // A cut IPv6 address counts only the groups begun; the endpoint's result is the length of
    // its complete text at every size.
    if (zt_sock_addr_family(addr) == AF_INET6) n = kIpv6TextLength;
    const uint16_t port = zt_sock_addr_port(addr);
    if (port == 0) return n;
    const auto at = static_cast<size_t>(n);
    // Past the end of a full buffer the suffix still counts toward the complete length.
    const int suffix =
        at < size ? snprintf(buf + at, size - at, ":%d", port) : snprintf(nullptr, 0, ":%d", port);
    return n + suffix;
}

int zt_printf_cb_sockaddr(const void *value, char *buf, size_t size) {
    if (!value) return ztc::write_null_value(buf, size);
    // Only the family field is read until it names a form of known size.
    sa_family_t family;
    memcpy(&family, static_cast<const char *>(value) + offsetof(sockaddr, sa_family),
           sizeof family);
    zt_sock_addr addr;
    switch (family) {
    case AF_INET:
        zt_sock_addr_from_sockaddr_in(&addr, static_cast<const sockaddr_in *>(value));
        return zt_printf_cb_zt_sock_addr(&addr, buf, size);
    case AF_INET6:
        zt_sock_addr_from_sockaddr_in6(&addr, static_cast<const sockaddr_in6 *>(value));
        return zt_printf_cb_zt_sock_addr(&addr, buf, size);
    default:
        return snprintf(buf, size, "Unhandled sa_family %i", family);
    }
}

} // extern "C"
