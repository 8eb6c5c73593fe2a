// vantle-bhint: shows or sets the slot that the launcher will start.
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/install.h"
#include "tools/cli.h"

namespace {

constexpr const char *program = "vantle-bhint";

constexpr const char *usage =
    "Usage: vantle-bhint [OPTION]... show\n"
    "       vantle-bhint [OPTION]... set [--force] SLOT\n"
    "show  prints the slot that the boot hint names, or the launcher's message about\n"
    "      the boot hint and exits with 1\n"
    "set   points the boot hint at SLOT (0 to 2147483647), replacing the file in one\n"
    "      step so that a reader never sees a partial hint; creates missing\n"
    "      directories; a symbolic link is followed and stays, an existing hint\n"
    "      keeps its mode and owner\n"
    "  -f, --force    set a slot that has no executable\n"
    "  -h, --help     this text\n"
    "      --version  the program's version\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

// Temporaries are named <hint>.vantle-bhint-XXXXXX. The set that made one holds a
// lock on it until the rename; one that nobody holds locked was left by a killed set.
constexpr const char *temp_infix = ".vantle-bhint-";
constexpr size_t temp_random = 6;
constexpr int max_links = 40;

int fail(const char *what, const std::string &path, int err) {
    std::fprintf(stderr, "%s: %s %s: %s\n", program, what, path.c_str(), std::strerror(err));
    return 1;
}

// The boot hint's and a slot's paths, as the launcher builds them but with every
// join checked: the launcher leaves out a component that does not fit, and writing
// to such a shortened path would replace some other file of the user.
struct layout {
    zt_path_t app;

    static std::optional<layout> find() {
        zt_path_t name;
        zt_path_from_wide(&name, L"Vantle");
        zt_install_set_app_name(&name);
        layout l;
        zt_install_settings_dir(&l.app);
        // A failed join of ".Tarnwick" leaves a home of more than 501 characters,
        // which then fails the joins below even when it ends in "/.Tarnwick".
        const std::wstring_view dir(zt_path_str(&l.app));
        if (!dir.ends_with(L"/.Tarnwick") && dir != L".Tarnwick") return std::nullopt;
        if (zt_path_append(&l.app, zt_path_str(&name)) != ERROR_SUCCESS) return std::nullopt;
        if (l.path({L"bhint.dat"}).empty()) return std::nullopt;
        return l;
    }

    // The UTF-8 path of the application directory joined with parts; empty when it
    // does not fit or cannot be expressed.
    std::string path(std::initializer_list<const wchar_t *> parts) const {
        zt_path_t p = app;
        for (const wchar_t *part : parts)
            if (zt_path_append(&p, part) != ERROR_SUCCESS) return {};
        // Bounded as the launcher and the library's file calls bound a path's UTF-8 form:
        // a path they refuse is one the hint must not be written to either.
        char buf[ZT_INSTALL_OS_PATH_BYTES];
        const size_t n = zt_wcs_to_utf8(buf, zt_path_str(&p), sizeof buf);
        if (n == ZT_UTF_ERROR || n >= sizeof buf) return {};
        return std::string(buf, n);
    }
    std::string hint() const { return path({L"bhint.dat"}); }
    std::string executable(int32_t slot) const {
        const std::wstring number = std::to_wstring(slot);
        return path({number.c_str(), L"vantle"});
    }
};

int no_layout() {
    std::fprintf(stderr,
                 "%s: the home directory gives no usable boot-hint path (unknown, not UTF-8, or "
                 "longer than paths of 511 characters or 1023 bytes allow)\n",
                 program);
    return 1;
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

std::string dir_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that path names once its symbolic links are followed; the link itself
// must stay, so the hint is replaced there.
int resolve_links(std::string path, std::string *out) {
    for (int hops = 0; hops < max_links; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return errno;
            *out = path;
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            *out = path;
            return 0;
        }
        char target[4096];
        const ssize_t n = readlink(path.c_str(), target, sizeof target);
        if (n < 0) return errno;
        if (static_cast<size_t>(n) == sizeof target) return ENAMETOOLONG;
        const std::string link(target, static_cast<size_t>(n));
        path = link.starts_with('/') ? link : dir_of(path) + "/" + link;
    }
    return ELOOP;
}

std::string temp_name(const std::string &target) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[temp_random] = {};
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        const auto seed = static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(clock());
        for (size_t i = 0; i < temp_random; ++i) random[i] = static_cast<unsigned char>(seed >> i);
    }
    std::string name = target + temp_infix;
    for (unsigned char r : random) name += alphabet[r % (sizeof alphabet - 1)];
    return name;
}

bool is_temp_of(std::string_view name, std::string_view base) {
    if (!name.starts_with(base)) return false;
    name.remove_prefix(base.size());
    if (!name.starts_with(temp_infix)) return false;
    name.remove_prefix(std::strlen(temp_infix));
    if (name.size() != temp_random) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

// Removes the temporaries that killed sets left beside target; the kernel released
// their locks when they died. Locked ones belong to sets that are running now.
void remove_stale_temps(const std::string &target) {
    const std::string dir = dir_of(target);
    const std::string base = target.substr(target.rfind('/') + 1);
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent *e = readdir(d)) {
        if (!is_temp_of(e->d_name, base)) continue;
        const std::string path = dir + "/" + e->d_name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlink(path.c_str());
        close(fd);
    }
    closedir(d);
}

// A locked file for the new hint beside target: unnamed (O_TMPFILE) where the file
// system allows, so that a set killed before the link leaves nothing behind; *named
// says whether it already has the name *tmp.
int open_temp(const std::string &target, std::string *tmp, bool *named) {
    *named = false;
    int fd = open(dir_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (flock(fd, LOCK_EX) == 0) return fd;
        const int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tmp = temp_name(target);
        fd = open(tmp->c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return -1;
        if (flock(fd, LOCK_EX) != 0) {
            const int err = errno;
            unlink(tmp->c_str());
            close(fd);
            errno = err;
            return -1;
        }
        // Named before it was locked: another set's clean-up may have taken it away in
        // between, so it counts only while the name still leads to this file.
        struct stat mine, at_name;
        if (fstat(fd, &mine) == 0 && stat(tmp->c_str(), &at_name) == 0 &&
            mine.st_ino == at_name.st_ino && mine.st_dev == at_name.st_dev) {
            *named = true;
            return fd;
        }
        close(fd);
    }
    errno = EEXIST;
    return -1;
}

// Gives the unnamed file fd a temporary name beside target.
int link_temp(int fd, const std::string &target, std::string *tmp) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tmp = temp_name(target);
        if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, tmp->c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        if (errno == EEXIST) continue;
        // Without /proc, a caller allowed to link by descriptor still can.
        if (linkat(fd, "", AT_FDCWD, tmp->c_str(), AT_EMPTY_PATH) == 0) return 0;
        return errno;
    }
    return EEXIST;
}

// Writes the 8 bytes into a new file beside the hint (or the file its links lead
// to), flushes it to disk and renames it over the hint: a reader sees the old hint
// or the new one, never a mix.
int write_hint(const std::string &path, int32_t slot) {
    if (const int err = make_parents(path); err != 0)
        return fail("cannot create the directories of", path, err);
    std::string target;
    if (const int err = resolve_links(path, &target); err != 0)
        return fail("cannot follow the links of", path, err);
    remove_stale_temps(target);
    struct stat old;
    const bool existed = stat(target.c_str(), &old) == 0;

    std::string tmp;
    bool named = false;
    const int fd = open_temp(target, &tmp, &named);
    if (fd < 0) return fail("cannot create a temporary file beside", target, errno);
    const int32_t fields[2] = {slot, static_cast<int32_t>(~static_cast<uint32_t>(slot))};
    int err = 0;
    struct stat fresh;
    if (existed && fstat(fd, &fresh) == 0 &&
        ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
         fchown(fd, old.st_uid, old.st_gid) != 0))
        err = errno;
    if (existed && err == 0 && fchmod(fd, old.st_mode & 07777) != 0) err = errno;
    if (err == 0) err = write_all(fd, fields, sizeof fields);
    if (err == 0 && fsync(fd) != 0) err = errno;
    if (err == 0 && !named) {
        err = link_temp(fd, target, &tmp);
        named = err == 0;
    }
    // Renamed while still locked, so no other set takes it for a left-over.
    if (err == 0 && rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0 && named) unlink(tmp.c_str());
    if (close(fd) != 0 && err == 0) err = errno;
    if (err != 0) return fail("cannot write", target, err);
    // The rename itself reaches the disk with the directory.
    if (const int dfd = open(dir_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return 0;
}

bool parse_slot(std::string_view text, int32_t *slot) {
    const char *end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, *slot);
    return !text.empty() && ec == std::errc() && p == end && *slot >= 0;
}

int show() {
    if (!layout::find()) return no_layout();
    const int32_t slot = zt_install_read_boot_hint();
    if (slot < 0) {
        std::fprintf(stderr, "%s: the boot hint names no slot that can be started\n", program);
        return 1;
    }
    std::printf("%d\n", slot);
    return 0;
}

int set(int32_t slot, bool force) {
    const std::optional<layout> paths = layout::find();
    if (!paths) return no_layout();
    const std::string exe = paths->executable(slot);
    struct stat st;
    if (!force && (exe.empty() || stat(exe.c_str(), &st) != 0)) {
        std::fprintf(stderr, "%s: slot %d has no executable at %s (--force sets it anyway)\n",
                     program, slot, exe.empty() ? "a path that fits" : exe.c_str());
        return 1;
    }
    if (const int status = write_hint(paths->hint(), slot); status != 0) return status;
    std::printf("boot hint now names slot %d\n", slot);
    return 0;
}

enum long_only { opt_version = 256 };

constexpr option long_options[] = {
    {"force", no_argument, nullptr, 'f'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, opt_version},
    {nullptr, 0, nullptr, 0},
};

} // namespace

int main(int argc, char **argv) {
    cli::reserve_standard_fds();
    bool force = false;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":fh", long_options, nullptr)) != -1;) {
        switch (c) {
        case 'f':
            force = true;
            break;
        case 'h':
            std::fputs(usage, stdout);
            return cli::finish(program, 0);
        case opt_version:
            cli::print_version(program);
            return cli::finish(program, 0);
        default:
            return cli::option_error(program, c, long_options, argv);
        }
    }
    const int operands = argc - optind;
    if (operands == 0) return cli::usage_error(program, "missing command: show or set");
    const std::string_view command = argv[optind];
    if (command == "show") {
        if (operands > 1) return cli::usage_error(program, "show takes no operand");
        if (force) return cli::usage_error(program, "--force belongs to set");
        return cli::finish(program, show());
    }
    if (command == "set") {
        if (operands == 1) return cli::usage_error(program, "set needs a SLOT");
        if (operands > 2) return cli::usage_error(program, "set takes one SLOT");
        int32_t slot;
        if (!parse_slot(argv[optind + 1], &slot))
            return cli::usage_error(program, "SLOT must be a number from 0 to 2147483647, not '%s'",
                                    argv[optind + 1]);
        return cli::finish(program, set(slot, force));
    }
    return cli::usage_error(program, "unknown command '%s'", argv[optind]);
}
