// A stand-in application for the demo: it tells which slot it runs from and what it
// was given. Slot 1 then points the boot hint at slot 2 and asks for a restart.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/install.h"

namespace {
constexpr int kRestartStatus = 42;

// The slot is the name of the directory the executable lies in.
std::string slot_of(const char *exe) {
    std::string path = exe;
    const auto last = path.rfind('/');
    if (last == std::string::npos) return "?";
    path.resize(last);
    const auto prev = path.rfind('/');
    return prev == std::string::npos ? path : path.substr(prev + 1);
}

bool write_boot_hint(int32_t slot) {
    zt_path_t name;
    zt_path_from_wide(&name, L"Vantle");
    zt_install_set_app_name(&name);
    zt_path_t hint;
    zt_install_bhint_path(&hint);
    char path[4096];
    zt_path_to_utf8(&hint, path, sizeof path);
    const int32_t fields[2] = {slot, static_cast<int32_t>(~static_cast<uint32_t>(slot))};
    FILE *file = fopen(path, "wb");
    if (file == nullptr) return false;
    const bool ok = fwrite(fields, sizeof fields[0], 2, file) == 2;
    return fclose(file) == 0 && ok;
}
} // namespace

int main(int argc, char **argv) {
    const std::string slot = slot_of(argv[0]);
    printf("demo app, slot %s, started as %s\n", slot.c_str(), argv[0]);
    for (int i = 1; i < argc; ++i) printf("  argument %d: %s\n", i, argv[i]);
    if (argc == 1) printf("  no arguments\n");
    if (slot == "1") {
        if (!write_boot_hint(2)) {
            perror("demo app: cannot write the boot hint");
            return 1;
        }
        printf("  boot hint now names slot 2; asking for a restart (exit %d)\n", kRestartStatus);
        return kRestartStatus;
    }
    printf("  done (exit 0)\n");
    return 0;
}
