/* Compiled as C11: every public header must be usable from C. */
#include "base/ztc/error.h"
#include "base/ztc/os/path.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/os/thread.h"
#include "base/ztc/time/time.h"
#include "base/ztc/debug/debug.h"
#include "base/ztc/extensions.h"
#include "launcher/install.h"

int main(void) { return ERROR_SUCCESS; }
