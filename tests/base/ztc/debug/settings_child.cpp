// Started with ZTC_DEBUG and ZTC_DEBUG_FILE set by the settings tests: reports the levels
// that start-up left and makes one IO print of level 4, which only those settings let through.
#include <stdio.h>

#include "base/ztc/debug/outputs.h"

int main() {
    const debug_output_t *file = debug_output_find("ZTC_DEBUG_FILE");
    printf("runtime=%d generic=%d io=%d file=%d\n", debug_max_runtime_level,
           debug_output_stderr.levels[0], debug_output_stderr.levels[2],
           file != NULL ? file->levels[2] : -1);
    fflush(stdout);
    ZT_DEBUG(2, 4, "io note %d", 7);
    return 0;
}
