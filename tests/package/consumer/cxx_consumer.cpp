// The headers from C++, and a debug line through the standard-error output.
#include "base/ztc/debug/debug.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/version.h"

#include <string>

int main() {
    char text[64];
    int n = zt_snprintf(text, sizeof text, "%s-%05.1f", "cxx", 2.25);
    debug_print(nullptr, 0, 1, "consumer", __LINE__, "main", "%s", text);
    return std::string(text) == "cxx-002.2" && n == 9 && ZTC_VERSION_MAJOR >= 0 ? 0 : 1;
}
