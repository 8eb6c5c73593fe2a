// Where the application lives below the user's home, and the boot hint that picks a slot.
#include "launcher/install.h"

#include "base/ztc/os/printf.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr wchar_t kSettingsDirName[] = L".Tarnwick";
constexpr wchar_t kBootHintName[] = L"bhint.dat";
constexpr wchar_t kExecutableName[] = L"vantle";
constexpr size_t kSlotNameChars = 128;
constexpr size_t kPasswdScratch = 1024;
constexpr size_t kOsPathBytes = ZT_INSTALL_OS_PATH_BYTES;

// A value above U+10FFFF: no file name can hold it, so every file call on a path
// that starts with it fails. It stands in for a home directory that is unknown or
// cannot be expressed, so that nothing is ever looked up relative to the working
// directory in its place.
constexpr wchar_t kNoHome = 0x110000;

zt_path_t app_name{};

// What every pass of the launch loop needs and no pass changes, worked out once:
// the settings directory, and, for the current application name, the application
// directory and the boot hint's UTF-8 path (or the errno a call on it gets).
struct SettingsCache {
    std::mutex lock;
    bool computed = false;
    zt_path_t dir{};
    bool derived = false;
    zt_path_t app_dir{};
    char bhint[kOsPathBytes] = {};
    int bhint_error = 0;
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

// The UTF-8 form of path for a file call: 0, or the errno the call gets without
// reaching the system (ENAMETOOLONG: too long, ENOENT: a value no file name can
// hold), buf then holding the empty text.
int os_path(const zt_path_t &path, char (&buf)[kOsPathBytes]) {
    const int saved = errno;
    errno = 0;
    zt_path_to_utf8(&path, buf, sizeof buf);
    const int err = errno;
    errno = saved;
    return err;
}

void cached_settings_dir(zt_path_t *out) {
    if (!settings.computed) {
        zt_install_settings_dir(&settings.dir);
        settings.computed = true;
    }
    zt_path_copy(out, &settings.dir);
}

// Start of every layout path: the cached settings directory and the application name.
void layout_start(zt_path_t *out) {
    {
        std::lock_guard guard(settings.lock);
        cached_settings_dir(out);
    }
    zt_path_append(out, zt_path_str(&app_name));
}

// Under the lock: the application directory and the boot hint's path.
void derive_locked() {
    if (settings.derived) return;
    cached_settings_dir(&settings.app_dir);
    zt_path_append(&settings.app_dir, zt_path_str(&app_name));
    zt_path_t bhint;
    zt_path_copy(&bhint, &settings.app_dir);
    zt_path_append(&bhint, kBootHintName);
    settings.bhint_error = os_path(bhint, settings.bhint);
    settings.derived = true;
}

// Opens the boot hint for reading: a descriptor, or -1 with errno set.
int open_boot_hint() {
    char path[kOsPathBytes];
    int err;
    {
        std::lock_guard guard(settings.lock);
        derive_locked();
        memcpy(path, settings.bhint, sizeof path);
        err = settings.bhint_error;
    }
    if (err != 0) {
        errno = err;
        return -1;
    }
    return open(path, O_RDONLY | O_CLOEXEC);
}

// Reads up to size bytes, fewer only at the end of the file or on an error
// (errno then tells it); returns the number read.
size_t read_fully(int fd, void *buf, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, static_cast<char *>(buf) + got, size - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return got;
}

// The hinted slot's executable, as a wide path and in UTF-8; 0 when it exists.
int find_executable(zt_path_t *exe, char (&os)[kOsPathBytes]) {
    const int32_t slot = zt_install_read_boot_hint();
    if (slot < 0) return 1;
    {
        std::lock_guard guard(settings.lock);
        derive_locked();
        zt_path_copy(exe, &settings.app_dir);
    }
    wchar_t name[kSlotNameChars];
    format_slot_name(name, false, slot);
    zt_path_append(exe, name);
    zt_path_append(exe, kExecutableName);
    struct stat st;
    return os_path(*exe, os) == 0 && stat(os, &st) == 0 ? 0 : 1;
}

void say(const char *line) {
    fputs(line, stdout);
    fflush(stdout);
}
} // namespace

extern "C" {

void zt_install_set_app_name(const zt_path_t *name) {
    std::lock_guard guard(settings.lock);
    zt_path_copy(&app_name, name);
    settings.derived = false;
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
    const int fd = open_boot_hint();
    if (fd < 0) {
        const int err = errno;
        printf("Failed to open boot hint file for reading (%d %s)\n", err, strerror(err));
        fflush(stdout);
        return -1;
    }
    int32_t fields[2] = {};
    const size_t items = read_fully(fd, fields, sizeof fields) / sizeof fields[0];
    close(fd);
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
    zt_path_t exe;
    char os[kOsPathBytes];
    if (find_executable(&exe, os) != 0) return 1;
    zt_path_copy(out, &exe);
    return 0;
}

int zt_install_find_app_utf8(char *out, size_t size) {
    zt_path_t exe;
    char os[kOsPathBytes];
    if (out == nullptr || find_executable(&exe, os) != 0) return 1;
    const size_t len = strlen(os);
    if (len >= size) return 1;
    memcpy(out, os, len + 1);
    return 0;
}

} // extern "C"
