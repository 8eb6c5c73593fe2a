#ifndef VANTLE_LAUNCHER_INSTALL_H
#define VANTLE_LAUNCHER_INSTALL_H

#include <stdbool.h>
#include <stdint.h>

#include "base/ztc/os/path.h"

#ifdef __cplusplus
extern "C" {
#endif

void zt_install_set_app_name(const zt_path_t *name);
void zt_install_settings_dir(zt_path_t *out);
void zt_install_bhint_path(zt_path_t *out);
void zt_install_slot_dir(zt_path_t *out, bool second_kind, int32_t slot);
int32_t zt_install_read_boot_hint(void);
int zt_install_find_app(zt_path_t *out);

#ifdef __cplusplus
}
#endif

#endif
