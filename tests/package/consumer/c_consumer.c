/* Every public header from C, and output that proves the library and its start-up work. */
#include "base/ztc/debug/debug.h"
#include "base/ztc/debug/outputs.h"
#include "base/ztc/error.h"
#include "base/ztc/extensions.h"
#include "base/ztc/os/path.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/thread.h"
#include "base/ztc/time/time.h"
#include "base/ztc/version.h"

#include <stdio.h>
#include <string.h>

int main(void) {
    char text[128];
    error_code_t code = ERROR_INVALID_ARGUMENT;
    zt_snprintf(text, sizeof text, "%s %d %p{error}", ZTC_VERSION_STRING, 7, &code);
    puts(text);
    return strcmp(text, ZTC_VERSION_STRING " 7 [2]Invalid argument") != 0;
}
