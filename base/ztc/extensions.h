#ifndef ZTC_EXTENSIONS_H
#define ZTC_EXTENSIONS_H

#include <netinet/in.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its public names are exported. */
#pragma GCC visibility push(default)

/* An IPv4 or IPv6 endpoint, laid out as the system's socket address forms: family in host
 * order, port and address in network order. Any family other than AF_INET and AF_INET6
 * means the record holds no address. */
typedef union zt_sock_addr {
    struct sockaddr_storage storage;
    struct sockaddr_in in4;
    struct sockaddr_in6 in6;
} zt_sock_addr;

/* Clears the whole record. */
void zt_sock_addr_init(zt_sock_addr *addr);
/* Clears the record, then copies the sockaddr_in into its leading part. */
void zt_sock_addr_from_sockaddr_in(zt_sock_addr *addr, const struct sockaddr_in *in);
/* Clears the record, then copies the sockaddr_in6 into its leading part. */
void zt_sock_addr_from_sockaddr_in6(zt_sock_addr *addr, const struct sockaddr_in6 *in6);
/* IPv4: port or address non-zero; IPv6: address non-zero; other families: never. */
bool zt_sock_addr_valid(const zt_sock_addr *addr);
uint16_t zt_sock_addr_family(const zt_sock_addr *addr);
/* The port in host order; 0 for families other than AF_INET and AF_INET6. */
uint16_t zt_sock_addr_port(const zt_sock_addr *addr);

/* Value formatters, reached by name through "%p{name}". Each writes a NUL-terminated text cut
 * to size (nothing with size 0) and returns the length of the complete text. A null value
 * pointer gives "(null)" unless stated otherwise. */

/* "error": error_code_t as "[4]Out of memory". */
int zt_printf_cb_error_code_t(const void *value, char *buf, size_t size);
/* "ip": struct in_addr in dotted decimal, from inet_ntop; a buffer too small for the whole
 * text gets the empty text. */
int zt_printf_cb_ip(const void *value, char *buf, size_t size);
/* "sockaddr": a struct sockaddr. AF_INET is read as sockaddr_in and AF_INET6 as sockaddr_in6
 * (both as "zt_sock_addr"); any other family gives "Unhandled sa_family N" and only the family
 * field is read. */
int zt_printf_cb_sockaddr(const void *value, char *buf, size_t size);
/* "zt_sock_addr": address with ":port" unless the port is 0; "NULL" for a null pointer,
 * "INVALID" for a record that is not valid. IPv6 prints eight groups of four hex digits. */
int zt_printf_cb_zt_sock_addr(const void *value, char *buf, size_t size);
/* "zt_sock_addr:ip": the address alone; "null" for a family without an address. An IPv6 text
 * cut short returns the length of the groups begun, not of the complete text. */
int zt_printf_cb_zt_sock_addr_ip(const void *value, char *buf, size_t size);
/* "zt_sock_addr:port": the host-order port in decimal. */
int zt_printf_cb_zt_sock_addr_port(const void *value, char *buf, size_t size);
/* "mac_address": 6 bytes as "00:1A:2B:0C:0D:EF". */
int zt_printf_cb_mac_address(const void *value, char *buf, size_t size);
/* "fw": a firmware version word (uint32_t) as "1.2.3rc4", "1.2.3U". */
int zt_printf_cb_fw(const void *value, char *buf, size_t size);
/* "four_char_code": 4 bytes quoted when all are printable ("'abcd'"), else as uint32_t. */
int zt_printf_cb_four_char_code(const void *value, char *buf, size_t size);
/* The same with an int32_t fallback. Its name is longer than the registry accepts, so it is
 * reached only by a direct call. */
int zt_printf_cb_signed_four_char_code(const void *value, char *buf, size_t size);
/* "timeval": struct timeval as "12.000034"; "(null)" for a null pointer. */
int zt_printf_cb_timeval(const void *value, char *buf, size_t size);
/* "ignore": the empty text; the value is not read. */
int zt_printf_cb_ignore(const void *value, char *buf, size_t size);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
