#ifndef ZTC_EXTENSIONS_H
#define ZTC_EXTENSIONS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

int zt_printf_cb_error_code_t(const void *value, char *buf, size_t size);

#ifdef __cplusplus
}
#endif

#endif
