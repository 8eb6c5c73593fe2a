// The boot-hint reader on arbitrary file contents, checked against the format.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/install.h"

namespace {
std::string hint_file;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char home[] = "/tmp/vantle_bhint_fuzz_XXXXXX";
    if (mkdtemp(home) == nullptr) std::abort();
    setenv("HOME", home, 1);
    const std::string settings = std::string(home) + "/.Tarnwick";
    mkdir(settings.c_str(), 0700);
    mkdir((settings + "/Vantle").c_str(), 0700);
    hint_file = settings + "/Vantle/bhint.dat";
    zt_path_t name;
    zt_path_from_wide(&name, L"Vantle");
    zt_install_set_app_name(&name);
    // The reader's messages are not what is checked here.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *f = std::fopen(hint_file.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();

    int32_t expected = -1;
    if (size >= 8) {
        uint32_t slot, check;
        std::memcpy(&slot, data, 4);
        std::memcpy(&check, data + 4, 4);
        if (check == ~slot) expected = static_cast<int32_t>(slot);
    }
    if (zt_install_read_boot_hint() != expected) std::abort();

    zt_path_t exe;
    const int found = zt_install_find_app(&exe);
    if (found != 1) std::abort(); // no slot directory exists
    return 0;
}
