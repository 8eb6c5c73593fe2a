// The install layout and boot hint, each case in a fresh process: the settings
// directory is computed once per process from that process's HOME.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/install.h"
#include "process_harness.h"

namespace {

namespace fs = std::filesystem;
using harness::run_forked;

constexpr uid_t kNobody = 65534;

std::string utf8(const zt_path_t &p) {
    char buf[4096];
    return zt_path_to_utf8(&p, buf, sizeof buf);
}

void name_app() {
    zt_path_t name;
    zt_path_from_wide(&name, L"Vantle");
    zt_install_set_app_name(&name);
}

void set_home(const std::optional<std::string> &home) {
    if (home) {
        setenv("HOME", home->c_str(), 1);
    } else {
        unsetenv("HOME");
    }
}

// Root reads everything; the unreadable cases need an ordinary user.
void drop_root() {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(90);
}

std::string hint_bytes(int32_t slot, uint32_t check) {
    std::string bytes(8, '\0');
    memcpy(bytes.data(), &slot, 4);
    memcpy(bytes.data() + 4, &check, 4);
    return bytes;
}

std::string valid_hint(int32_t slot) {
    return hint_bytes(slot, ~static_cast<uint32_t>(slot));
}

void write_file(const fs::path &path, const std::string &bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct PathCase {
    std::string home;
    bool named;
    std::string hint_path;
    std::string slot3_dir;
};

TEST(InstallLayout, PathsFollowHomeAndApplicationName) {
    const PathCase cases[] = {
        {"/home/u", true, "/home/u/.Tarnwick/Vantle/bhint.dat", "/home/u/.Tarnwick/Vantle/3"},
        {"/home/u//", true, "/home/u/.Tarnwick/Vantle/bhint.dat", "/home/u/.Tarnwick/Vantle/3"},
        {"/", true, "/.Tarnwick/Vantle/bhint.dat", "/.Tarnwick/Vantle/3"},
        {"", true, ".Tarnwick/Vantle/bhint.dat", ".Tarnwick/Vantle/3"},
        {"/home/u", false, "/home/u/.Tarnwick/bhint.dat", "/home/u/.Tarnwick/3"},
        {"/h\xC3\xA9/\xE2\x82\xAC", true, "/h\xC3\xA9/\xE2\x82\xAC/.Tarnwick/Vantle/bhint.dat",
         "/h\xC3\xA9/\xE2\x82\xAC/.Tarnwick/Vantle/3"},
    };
    for (const auto &c : cases) {
        const auto got = run_forked([&] {
            set_home(c.home);
            if (c.named) name_app();
            zt_path_t hint, slot, settings;
            zt_install_bhint_path(&hint);
            zt_install_slot_dir(&slot, false, 3);
            zt_install_settings_dir(&settings);
            return utf8(hint) + "\n" + utf8(slot) + "\n" + utf8(settings);
        });
        EXPECT_EQ(got.result, c.hint_path + "\n" + c.slot3_dir + "\n" +
                                  c.hint_path.substr(0, c.hint_path.find(".Tarnwick") + 9))
            << "HOME=" << c.home;
    }
}

TEST(InstallLayout, SlotNamesArePlainDecimalWithOptionalPrefix) {
    struct Case {
        bool second_kind;
        int32_t slot;
        const char *name;
    };
    const Case cases[] = {
        {false, 0, "0"},
        {false, 3, "3"},
        {false, 12, "12"},
        {false, -5, "-5"},
        {true, 7, "R7"},
        {true, 0, "R0"},
        {false, INT32_MAX, "2147483647"},
        {false, INT32_MIN, "-2147483648"},
    };
    const auto got = run_forked([&] {
        set_home("/h");
        name_app();
        std::string names;
        for (const auto &c : cases) {
            zt_path_t dir;
            zt_install_slot_dir(&dir, c.second_kind, c.slot);
            names += utf8(dir) + "\n";
        }
        return names;
    });
    std::string expected;
    for (const auto &c : cases) expected += std::string("/h/.Tarnwick/Vantle/") + c.name + "\n";
    EXPECT_EQ(got.result, expected);
}

TEST(InstallLayout, SettingsDirectoryIsComputedOncePerProcess) {
    const auto got = run_forked([] {
        set_home("/first");
        name_app();
        zt_path_t before, after;
        zt_install_bhint_path(&before);
        set_home("/second");
        zt_install_bhint_path(&after);
        return utf8(before) + "|" + utf8(after);
    });
    EXPECT_EQ(got.result, "/first/.Tarnwick/Vantle/bhint.dat|/first/.Tarnwick/Vantle/bhint.dat");
}

TEST(InstallLayout, UnsetHomeComesFromTheUserDatabase) {
    const passwd *entry = getpwuid(getuid());
    if (entry == nullptr) GTEST_SKIP() << "the current user has no user-database entry";
    const std::string home = entry->pw_dir;
    const auto got = run_forked([] {
        set_home(std::nullopt);
        name_app();
        zt_path_t hint;
        zt_install_bhint_path(&hint);
        return utf8(hint);
    });
    zt_path_t expected;
    zt_path_from_utf8(&expected, home.c_str());
    zt_path_append(&expected, L".Tarnwick");
    EXPECT_EQ(got.result, utf8(expected) + "/Vantle/bhint.dat");
}

class BootHint : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantle_layout_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        chmod(tmpl, 0755);
        app_ = home_ / ".Tarnwick" / "Vantle";
        fs::create_directories(app_);
    }
    void TearDown() override {
        // Undo what the unreadable cases did, so the tree can be removed.
        for (auto &entry : fs::recursive_directory_iterator(
                 home_, fs::directory_options::skip_permission_denied)) {
            if (entry.is_directory()) chmod(entry.path().c_str(), 0755);
        }
        chmod(app_.c_str(), 0755);
        std::error_code ignored;
        fs::remove_all(home_, ignored);
    }

    // Reads the boot hint and looks for the executable in a fresh process.
    harness::Outcome find(bool unprivileged = false) {
        return run_forked([&] {
            set_home(home_.string());
            name_app();
            if (unprivileged) drop_root();
            const int32_t slot = zt_install_read_boot_hint();
            zt_path_t exe;
            zt_path_from_wide(&exe, L"untouched");
            const int found = zt_install_find_app(&exe);
            return std::to_string(slot) + " " + std::to_string(found) + " " + utf8(exe);
        });
    }

    void install_executable(int slot) {
        write_file(app_ / std::to_string(slot) / "vantle", "#!/bin/sh\n");
        chmod((app_ / std::to_string(slot) / "vantle").c_str(), 0755);
    }

    fs::path home_;
    fs::path app_;
};

TEST_F(BootHint, FileSizesFromNothingToMoreThanEightBytes) {
    install_executable(3);
    const std::string full = valid_hint(3) + "\x07";
    const std::string exe = (app_ / "3" / "vantle").string();
    for (size_t size = 0; size <= 9; ++size) {
        write_file(app_ / "bhint.dat", full.substr(0, size));
        const auto got = find();
        if (size >= 8) {
            EXPECT_EQ(got.result, "3 0 " + exe) << size;
            EXPECT_EQ(got.out, "") << size;
            continue;
        }
        EXPECT_EQ(got.result, "-1 1 untouched") << size;
        // Each of the two reads in the child prints the line once.
        const auto out = harness::lines(got.out);
        ASSERT_EQ(out.size(), 2u) << size;
        for (const auto &line : out) {
            int items = -1, err = -1;
            ASSERT_EQ(sscanf(line.c_str(), "Failed to read boot hint file (%d %d)", &items, &err),
                      2)
                << line;
            EXPECT_EQ(items, size < 4 ? 0 : 1) << size;
        }
    }
}

TEST_F(BootHint, ContentDecidesTheSlot) {
    struct Case {
        std::string bytes;
        std::string result; // read result, find result, output path
        std::string out;
    };
    const std::string exe0 = (app_ / "0" / "vantle").string();
    const std::string exe3 = (app_ / "3" / "vantle").string();
    const Case cases[] = {
        {valid_hint(3), "3 0 " + exe3, ""},
        {valid_hint(0), "0 0 " + exe0, ""},
        {valid_hint(3) + "trailing bytes", "3 0 " + exe3, ""},
        {std::string("\x03\x00\x00\x00\xFC\xFF\xFF\xFF", 8), "3 0 " + exe3, ""},
        {hint_bytes(3, 0), "-1 1 untouched", "Corrupt boot hint file\nCorrupt boot hint file\n"},
        {hint_bytes(3, 3), "-1 1 untouched", "Corrupt boot hint file\nCorrupt boot hint file\n"},
        {hint_bytes(-1, 0), "-1 1 untouched", ""},
        {valid_hint(-7), "-7 1 untouched", ""},
        {valid_hint(INT32_MIN), std::to_string(INT32_MIN) + " 1 untouched", ""},
        {valid_hint(5), "5 1 untouched", ""}, // no slot 5 installed
    };
    install_executable(0);
    install_executable(3);
    for (const auto &c : cases) {
        write_file(app_ / "bhint.dat", c.bytes);
        const auto got = find();
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(got.out, c.out);
    }
}

TEST_F(BootHint, OddObjectsInTheLayout) {
    struct Case {
        const char *what;
        std::function<void()> arrange;
        std::string result; // "EXE" stands for the executable's path
        std::string out;
        bool unprivileged;
    };
    const Case cases[] = {
        {"no boot hint", [] {}, "-1 1 untouched",
         "Failed to open boot hint file for reading (2 No such file or directory)\n", false},
        {"boot hint is a directory", [&] { fs::create_directories(app_ / "bhint.dat"); },
         "-1 1 untouched", "Failed to read boot hint file (0 21)\n", false},
        {"directory named vantle counts as the executable",
         [&] {
             write_file(app_ / "bhint.dat", valid_hint(3));
             fs::create_directories(app_ / "3" / "vantle");
         },
         "3 0 EXE", "", false},
        {"application directory unreadable",
         [&] {
             write_file(app_ / "bhint.dat", valid_hint(3));
             install_executable(3);
             chmod(app_.c_str(), 0);
         },
         "-1 1 untouched", "Failed to open boot hint file for reading (13 Permission denied)\n",
         true},
        {"slot directory unreadable",
         [&] {
             write_file(app_ / "bhint.dat", valid_hint(3));
             install_executable(3);
             chmod((app_ / "3").c_str(), 0);
         },
         "3 1 untouched", "", true},
    };
    for (const auto &c : cases) {
        TearDown();
        SetUp();
        c.arrange();
        const auto got = find(c.unprivileged);
        std::string expected = c.result;
        if (const auto at = expected.find("EXE"); at != std::string::npos) {
            expected.replace(at, 3, (app_ / "3" / "vantle").string());
        }
        EXPECT_EQ(got.result, expected) << c.what;
        // Both the direct read and the one inside find print the message.
        EXPECT_EQ(got.out, c.out + c.out) << c.what;
    }
}

// With no usable home the layout must not fall back to the working directory,
// which here holds a complete layout of its own.
TEST(NoHome, NothingIsReadRelativeToTheWorkingDirectory) {
    char tmpl[] = "/tmp/vantle_cwd_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path cwd = tmpl;
    chmod(tmpl, 0755);
    for (const fs::path &dir : {cwd / ".Tarnwick" / "Vantle", cwd / "Vantle", cwd}) {
        write_file(dir / "bhint.dat", valid_hint(1));
        write_file(dir / "1" / "vantle", "x");
    }
    const uid_t no_entry_uid = [] {
        for (uid_t uid = 47000; uid < 48000; ++uid) {
            if (getpwuid(uid) == nullptr) return uid;
        }
        return uid_t{0};
    }();

    struct Case {
        const char *what;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"HOME unset, no user entry",
         [&] {
             unsetenv("HOME");
             if (setgid(no_entry_uid) != 0 || setuid(no_entry_uid) != 0) _exit(91);
         }},
        {"HOME not UTF-8", [] { setenv("HOME", "/nonexistent\xFF", 1); }},
        {"HOME truncated UTF-8", [] { setenv("HOME", "\xE2\x82", 1); }},
        {"HOME too long", [] { setenv("HOME", std::string(600, 'h').c_str(), 1); }},
    };
    for (const auto &c : cases) {
        if (std::string(c.what).find("no user") != std::string::npos &&
            (geteuid() != 0 || no_entry_uid == 0)) {
            continue; // only root can become a user without an entry
        }
        const auto got = run_forked([&] {
            if (chdir(cwd.c_str()) != 0) _exit(92);
            c.arrange();
            name_app();
            zt_path_t exe;
            zt_path_from_wide(&exe, L"untouched");
            return std::to_string(zt_install_find_app(&exe)) + " " + utf8(exe);
        });
        EXPECT_EQ(got.exit_code, 0) << c.what;
        EXPECT_EQ(got.result, "1 untouched") << c.what;
        EXPECT_EQ(got.out,
                  "Failed to open boot hint file for reading (2 No such file or directory)\n")
            << c.what;
    }
    fs::remove_all(cwd);
}

} // namespace
