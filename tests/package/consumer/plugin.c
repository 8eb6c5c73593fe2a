/* A shared object that carries libztc.a inside it. */
#include "base/ztc/os/printf.h"

int plugin_format(char *buf, size_t size, int value) {
    return zt_snprintf(buf, size, "plugin %p{zt_dur_us}|%d", &(long long){3000}, value);
}
