#ifndef VANTLE_LAUNCHER_INSTALL_H
#define VANTLE_LAUNCHER_INSTALL_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "base/ztc/os/path.h"

/* The most bytes of a path's UTF-8 form, terminator included, that the launcher hands to a
 * file call, as the library's file bridges bound it: a longer path is refused alike. */
#define ZT_INSTALL_OS_PATH_BYTES 1024

#ifdef __cplusplus
extern "C" {
#endif

void zt_install_set_app_name(const zt_path_t *name);
void zt_install_settings_dir(zt_path_t *out);
void zt_install_bhint_path(zt_path_t *out);
void zt_install_slot_dir(zt_path_t *out, bool second_kind, int32_t slot);
int32_t zt_install_read_boot_hint(void);
int zt_install_find_app(zt_path_t *out);
/* As zt_install_find_app, the path given as the file calls take it: UTF-8 and
 * terminated, in out of size bytes (1 too when it does not fit). */
int zt_install_find_app_utf8(char *out, size_t size);

#ifdef __cplusplus
}
#endif

#endif
