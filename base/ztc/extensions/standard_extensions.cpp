#include "base/ztc/extensions/standard_extensions.hpp"

#include "base/ztc/extensions.h"
#include "base/ztc/time/time.h"

namespace ztc {

constinit const std::array<named_extension, 22> standard_extensions = {{
    {"error", zt_printf_cb_error_code_t},
    {"ip", zt_printf_cb_ip},
    {"sockaddr", zt_printf_cb_sockaddr},
    {"zt_sock_addr", zt_printf_cb_zt_sock_addr},
    {"zt_sock_addr:ip", zt_printf_cb_zt_sock_addr_ip},
    {"zt_sock_addr:port", zt_printf_cb_zt_sock_addr_port},
    {"mac_address", zt_printf_cb_mac_address},
    {"fw", zt_printf_cb_fw},
    {"four_char_code", zt_printf_cb_four_char_code},
    {"signed_four_char_code", zt_printf_cb_signed_four_char_code},
    {"timeval", zt_printf_cb_timeval},
    {"ignore", zt_printf_cb_ignore},
    {"zt_dur_us", zt_printf_cb_zt_dur_us},
    {"zt_dur_ms", zt_printf_cb_zt_dur_ms},
    {"zt_dur_secs", zt_printf_cb_zt_dur_secs},
    {"zt_dur_mins", zt_printf_cb_zt_dur_mins},
    {"zt_dur", zt_printf_cb_zt_dur},
    {"zt_time", zt_printf_cb_zt_time},
    {"zt_reltime", zt_printf_cb_zt_reltime},
    {"zt_dur_pretty", zt_printf_cb_zt_dur_pretty},
    {"zt_time_pretty", zt_printf_cb_zt_time_pretty},
    {"zt_reltime_pretty", zt_printf_cb_zt_reltime_pretty},
}};

} // namespace ztc
