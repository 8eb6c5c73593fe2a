// The zt_sock_addr record: set-up, validity and field access.
#include <arpa/inet.h>
#include <cstring>

#include "base/ztc/extensions.h"

namespace {

// Fields are copied out rather than read through the union, so any byte image is safe.
sockaddr_in as_in4(const zt_sock_addr *addr) {
    sockaddr_in in;
    memcpy(&in, addr, sizeof in);
    return in;
}

sockaddr_in6 as_in6(const zt_sock_addr *addr) {
    sockaddr_in6 in6;
    memcpy(&in6, addr, sizeof in6);
    return in6;
}

} // namespace

extern "C" {

void zt_sock_addr_init(zt_sock_addr *addr) {
    memset(addr, 0, sizeof *addr);
}

void zt_sock_addr_from_sockaddr_in(zt_sock_addr *addr, const struct sockaddr_in *in) {
    zt_sock_addr_init(addr);
    memcpy(addr, in, sizeof *in);
}

void zt_sock_addr_from_sockaddr_in6(zt_sock_addr *addr, const struct sockaddr_in6 *in6) {
    zt_sock_addr_init(addr);
    memcpy(addr, in6, sizeof *in6);
}

uint16_t zt_sock_addr_family(const zt_sock_addr *addr) {
    sa_family_t family;
    memcpy(&family, reinterpret_cast<const char *>(addr) + offsetof(sockaddr_storage, ss_family),
           sizeof family);
    return family;
}

bool zt_sock_addr_valid(const zt_sock_addr *addr) {
    switch (zt_sock_addr_family(addr)) {
    case AF_INET: {
        const sockaddr_in in = as_in4(addr);
        return in.sin_port != 0 || in.sin_addr.s_addr != 0;
    }
    case AF_INET6: {
        const sockaddr_in6 in6 = as_in6(addr);
        for (unsigned char byte : in6.sin6_addr.s6_addr)
            if (byte != 0) return true;
        return false;
    }
    default:
        return false;
    }
}

uint16_t zt_sock_addr_port(const zt_sock_addr *addr) {
    switch (zt_sock_addr_family(addr)) {
    case AF_INET:
        return ntohs(as_in4(addr).sin_port);
    case AF_INET6:
        return ntohs(as_in6(addr).sin6_port);
    default:
        return 0;
    }
}

} // extern "C"
