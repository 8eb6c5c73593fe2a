// Where the application lives below the user's home, and the boot hint that picks a slot.
#include "launcher/install.h"

#include "base/ztc/os/printf.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace {
constexpr wchar_t kSettingsDirName[] = L".Tarnwick";
constexpr wchar_t kBootHintName[] = L"bhint.dat";
constexpr wchar_t kExecutableName[] = L"vantle";
constexpr size_t kSlotNameChars = 128;
constexpr size_t kPasswdScratch = 1024;

// A value above U+10FFFF: no file name can hold it, so every file call on a path
// that starts with it fails. It stands in for a home directory that is unknown or
// cannot be expressed, so that nothing is ever looked up relative to the working
// directory in its place.
constexpr wchar_t kNoHome = 0x110000;

zt_path_t app_name{};

struct SettingsCache {
    std::mutex lock;
    bool computed = false;
    zt_path_t dir{};
};
SettingsCache settings;

// The slot directory's name: the optional "R" prefix and the decimal slot number.
void format_slot_name(wchar_t (&out)[kSlotNameChars], bool second_kind, int32_t slot) {
    if (zt_swprintf(out, kSlotNameChars, "%s%d", second_kind ? "R" : "", static_cast<int>(slot)) <
        0) {
        out[0] = 0;
    }
}

const char *home_text(struct passwd *entry, char *scratch, size_t scratch_size) {
    if (const char *home = getenv("HOME")) return home;
    struct passwd *found = nullptr;
    if (getpwuid_r(getuid(), entry, scratch, scratch_size, &found) != 0 || found == nullptr) {
        return nullptr;
    }
    return found->pw_dir;
}

// Start of every layout path: the cached settings directory and the application name.
void layout_start(zt_path_t *out) {
    {
        std::lock_guard guard(settings.lock);
        if (!settings.computed) {
            zt_install_settings_dir(&settings.dir);
            settings.computed = true;
        }
        zt_path_copy(out, &settings.dir);
    }
    zt_path_append(out, zt_path_str(&app_name));
}

void say(const char *line) {
    fputs(line, stdout);
    fflush(stdout);
}
} // namespace

extern "C" {

void zt_install_set_app_name(const zt_path_t *name) {
    zt_path_copy(&app_name, name);
}

void zt_install_settings_dir(zt_path_t *out) {
    struct passwd entry;
    char scratch[kPasswdScratch] = {};
    const char *home = home_text(&entry, scratch, sizeof scratch);
    if (home == nullptr || zt_path_from_utf8(out, home) == ZT_UTF_ERROR) {
        const wchar_t unknown[] = {kNoHome, 0};
        zt_path_from_wide(out, unknown);
    }
    zt_path_append(out, kSettingsDirName);
}

void zt_install_bhint_path(zt_path_t *out) {
    layout_start(out);
    zt_path_append(out, kBootHintName);
}

void zt_install_slot_dir(zt_path_t *out, bool second_kind, int32_t slot) {
    layout_start(out);
    wchar_t name[kSlotNameChars];
    format_slot_name(name, second_kind, slot);
    zt_path_append(out, name);
}

int32_t zt_install_read_boot_hint(void) {
    zt_path_t path;
    zt_install_bhint_path(&path);
    FILE *file = zt_fopen(zt_path_str(&path), L"rb");
    if (file == nullptr) {
        const int err = errno;
        printf("Failed to open boot hint file for reading (%d %s)\n", err, strerror(err));
        fflush(stdout);
        return -1;
    }
    int32_t fields[2] = {};
    const size_t items = zt_fread(fields, sizeof fields[0], 2, file);
    zt_fclose(file);
    if (items < 2) {
        printf("Failed to read boot hint file (%d %d)\n", static_cast<int>(items), errno);
        fflush(stdout);
        return -1;
    }
    const int32_t slot = fields[0];
    if (static_cast<uint32_t>(fields[1]) != ~static_cast<uint32_t>(slot)) {
        say("Corrupt boot hint file\n");
        return -1;
    }
    return slot;
}

int zt_install_find_app(zt_path_t *out) {
    const int32_t slot = zt_install_read_boot_hint();
    if (slot < 0) return 1;
    zt_path_t exe;
    zt_install_slot_dir(&exe, false, slot);
    zt_path_append(&exe, kExecutableName);
    if (!zt_path_exists(&exe)) return 1;
    zt_path_copy(out, &exe);
    return 0;
}

} // extern "C"
