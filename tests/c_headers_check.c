/* Compiled as C11: every public header must be usable from C, and the archive
   must link and work from a C program. */
#include "base/ztc/error.h"
#include "base/ztc/os/path.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/thread.h"
#include "base/ztc/time/time.h"
#include "base/ztc/version.h"
#include "base/ztc/debug/debug.h"
#include "base/ztc/debug/outputs.h"
#include "base/ztc/extensions.h"
#include "launcher/install.h"

#include <stdio.h>
#include <string.h>

static int check(int ok, const char *what) {
    if (!ok) fprintf(stderr, "c_headers_check: %s\n", what);
    return ok ? 0 : 1;
}

int main(void) {
    int failures = 0;
    zt_path_t path;
    zt_path_from_wide(&path, L"/tmp");
    failures += check(zt_path_append(&path, L"caf\u00e9") == ERROR_SUCCESS, "append");
    failures += check(zt_wcslen(zt_path_str(&path)) == 9, "wide length");

    char utf8[64];
    zt_path_to_utf8(&path, utf8, sizeof utf8);
    failures += check(strcmp(utf8, "/tmp/caf\xC3\xA9") == 0, "path to UTF-8");

    zt_path_t back;
    failures += check(zt_path_from_utf8(&back, utf8) == 9, "path from UTF-8");
    failures += check(zt_wcschr(zt_path_str(&back), L'\u00e9') != NULL, "round trip");

    /* The print macros and the managed outputs from C. */
    failures += check(debug_configure("error,io=warn") == ERROR_SUCCESS, "configure");
    failures += check(debug_max_runtime_level == 2, "runtime level from the settings");
    if (failures == 0)
        ZT_DEBUG(2, 3, "filtered %d", 3);
    else
        ZT_DEBUG_TO(&debug_output_stderr, 2, 1, "failures: %d", failures);
    failures += check(debug_output_find("standard error") == &debug_output_stderr, "find");
    return failures == 0 ? 0 : 1;
}
