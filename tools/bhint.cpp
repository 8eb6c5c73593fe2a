// vantle-bhint: shows or sets the slot that the launcher will start.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/install.h"

namespace {

constexpr const char *usage =
    "Usage: vantle-bhint show\n"
    "       vantle-bhint set [--force] SLOT\n"
    "show  prints the slot that the boot hint names, or the launcher's message about\n"
    "      the boot hint and exits with 1\n"
    "set   points the boot hint at SLOT (0 to 2147483647), replacing the file in one\n"
    "      step so that a reader never sees a partial hint; creates missing\n"
    "      directories; refuses a slot without an executable unless --force\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

int fail(const char *what, const std::string &path, int err) {
    std::fprintf(stderr, "vantle-bhint: %s %s: %s\n", what, path.c_str(), std::strerror(err));
    return 1;
}

std::string utf8_of(const zt_path_t &path) {
    char buf[4096];
    return zt_path_to_utf8(&path, buf, sizeof buf);
}

// mkdir -p of every directory above the file at path.
int make_parents(const std::string &path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

int write_all(int fd, const void *data, size_t len) {
    const auto *p = static_cast<const char *>(data);
    while (len > 0) {
        const ssize_t n = write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return 0;
}

// Writes the 8 bytes into a temporary file beside the hint, flushes it to disk and
// renames it over the hint: a reader sees the old hint or the new one, never a mix.
int write_hint(const std::string &path, int32_t slot) {
    if (const int err = make_parents(path); err != 0)
        return fail("cannot create the directories of", path, err);
    std::string tmp = path + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return fail("cannot create a temporary file beside", path, errno);
    const int32_t fields[2] = {slot, static_cast<int32_t>(~static_cast<uint32_t>(slot))};
    int err = write_all(fd, fields, sizeof fields);
    if (err == 0 && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        unlink(tmp.c_str());
        return fail("cannot write", path, err);
    }
    // The rename itself reaches the disk with the directory.
    const std::string dir = path.substr(0, path.rfind('/') + 1);
    if (const int dfd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY); dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return 0;
}

bool parse_slot(std::string_view text, int32_t *slot) {
    const char *end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, *slot);
    return ec == std::errc() && p == end && *slot >= 0;
}

int show() {
    const int32_t slot = zt_install_read_boot_hint();
    if (slot < 0) {
        std::fprintf(stderr, "vantle-bhint: the boot hint names no slot that can be started\n");
        return 1;
    }
    std::printf("%d\n", slot);
    return 0;
}

int set(int32_t slot, bool force) {
    zt_path_t exe;
    zt_install_slot_dir(&exe, false, slot);
    zt_path_append(&exe, L"vantle");
    if (!force && !zt_path_exists(&exe)) {
        std::fprintf(stderr,
                     "vantle-bhint: slot %d has no executable at %s (--force sets it anyway)\n",
                     slot, utf8_of(exe).c_str());
        return 1;
    }
    zt_path_t hint;
    zt_install_bhint_path(&hint);
    const std::string path = utf8_of(hint);
    if (path.empty()) {
        std::fprintf(stderr, "vantle-bhint: the home directory gives no usable path\n");
        return 1;
    }
    if (const int status = write_hint(path, slot); status != 0) return status;
    std::printf("boot hint now names slot %d\n", slot);
    return 0;
}

int usage_error(const char *what) {
    std::fprintf(stderr, "vantle-bhint: %s\n%s", what, usage);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    zt_path_t name;
    zt_path_from_wide(&name, L"Vantle");
    zt_install_set_app_name(&name);

    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "show") == 0) return show();
    if (argc >= 3 && std::strcmp(argv[1], "set") == 0) {
        bool force = false;
        const char *slot_text = nullptr;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--force") == 0)
                force = true;
            else if (slot_text == nullptr)
                slot_text = argv[i];
            else
                return usage_error("too many arguments");
        }
        int32_t slot;
        if (slot_text == nullptr || !parse_slot(slot_text, &slot))
            return usage_error("SLOT must be a number from 0 to 2147483647");
        return set(slot, force);
    }
    return usage_error("unknown command");
}
