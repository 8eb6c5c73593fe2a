// The install layout and boot hint, each case in a fresh process: the settings
// directory is computed once per process from that process's HOME.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "launcher/install.h"
#include "process_harness.h"

namespace {

namespace fs = std::filesystem;
using harness::run_forked;

std::string utf8(const zt_path_t &p) {
    char buf[4096];
    return zt_path_to_utf8(&p, buf, sizeof buf);
}

void name_app() {
    zt_path_t name;
    zt_path_from_wide(&name, L"Vantle");
    zt_install_set_app_name(&name);
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

TEST(InstallLayout, PathsFollowHomeNameAndSlotAndHomeIsReadOnce) {
    const passwd *entry = getpwuid(getuid());
    if (entry == nullptr) GTEST_SKIP() << "the current user has no user-database entry";
    struct Case {
        std::optional<std::string> home; // nullopt: unset, so the user database speaks
        bool named;
        std::string settings;
    };
    const Case cases[] = {
        {"/home/u", true, "/home/u/.Tarnwick"},
        {"/home/u//", true, "/home/u/.Tarnwick"},
        {"/", true, "/.Tarnwick"},
        {"", true, ".Tarnwick"},
        {"/home/u", false, "/home/u/.Tarnwick"},
        {"/h\xC3\xA9/\xE2\x82\xAC", true, "/h\xC3\xA9/\xE2\x82\xAC/.Tarnwick"},
        {std::nullopt, true, std::string(entry->pw_dir) + "/.Tarnwick"},
    };
    struct Slot {
        bool second_kind;
        int32_t slot;
        const char *name;
    };
    const Slot slots[] = {{false, 0, "0"},
                          {false, 3, "3"},
                          {false, -5, "-5"},
                          {true, 7, "R7"},
                          {true, 0, "R0"},
                          {false, INT32_MAX, "2147483647"},
                          {false, INT32_MIN, "-2147483648"}};
    for (const auto &c : cases) {
        const auto got = run_forked([&] {
            c.home ? setenv("HOME", c.home->c_str(), 1) : unsetenv("HOME");
            if (c.named) name_app();
            zt_path_t path;
            zt_install_settings_dir(&path);
            std::string text = utf8(path);
            for (const auto &s : slots) {
                zt_install_slot_dir(&path, s.second_kind, s.slot);
                text += "|" + utf8(path);
            }
            zt_install_bhint_path(&path);
            text += "|" + utf8(path);
            setenv("HOME", "/elsewhere", 1);
            zt_install_bhint_path(&path);
            return text + "|" + utf8(path);
        });
        const std::string app = c.settings + (c.named ? "/Vantle" : "");
        std::string expected = c.settings;
        for (const auto &s : slots) expected += "|" + app + "/" + s.name;
        expected += "|" + app + "/bhint.dat|" + app + "/bhint.dat";
        EXPECT_EQ(got.result, expected) << "HOME=" << c.home.value_or("(unset)");
    }
}

class BootHint : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = harness::make_temp_dir("vantle_layout_");
        chmod(home_.c_str(), 0755);
        app_ = home_ / ".Tarnwick" / "Vantle";
    }
    void TearDown() override {
        clear();
        fs::remove(home_);
    }

    // Empties the home, undoing what the unreadable cases did.
    void clear() {
        if (fs::exists(app_)) chmod(app_.c_str(), 0755);
        for (const auto &entry : fs::recursive_directory_iterator(home_)) {
            if (entry.is_directory() && !entry.is_symlink()) chmod(entry.path().c_str(), 0755);
        }
        for (const auto &entry : fs::directory_iterator(home_)) fs::remove_all(entry.path());
    }

    // A fresh layout without a boot hint. Executables also lie in the directories
    // that negative slots would name, and the application directory is reachable
    // as Vantle and as the home itself too: none of these may ever be used.
    void reset() {
        clear();
        for (const char *slot : {"0", "3", "-1", "-7"}) {
            write_file(app_ / slot / "vantle", "#!/bin/sh\n");
            chmod((app_ / slot / "vantle").c_str(), 0755);
        }
        fs::create_directory_symlink(".Tarnwick/Vantle", home_ / "Vantle");
        fs::create_symlink(".Tarnwick/Vantle/bhint.dat", home_ / "bhint.dat");
        fs::create_directory_symlink(".Tarnwick/Vantle/3", home_ / "3");
    }

    // Reads the boot hint and looks for the executable in a fresh process whose
    // working directory is the home; `child` may change HOME or the user.
    harness::Outcome find(const std::function<void()> &child) {
        return run_forked([&] {
            if (chdir(home_.c_str()) != 0) _exit(92);
            setenv("HOME", home_.c_str(), 1);
            if (child) child();
            name_app();
            errno = 0;
            const int32_t slot = zt_install_read_boot_hint();
            zt_path_t exe;
            zt_path_from_wide(&exe, L"untouched");
            errno = 0;
            const int found = zt_install_find_app(&exe);
            return std::to_string(slot) + " " + std::to_string(found) + " " + utf8(exe);
        });
    }

    fs::path home_, app_;
};

TEST_F(BootHint, ContentSizeObjectsAndHomeDecideTheSlot) {
    struct Case {
        std::string what;
        std::function<void()> arrange;
        std::string result; // read result, find result, the found path
        std::string out;    // printed by each of the two reads
        std::function<void()> child = {};
    };
    const auto hint = [this](const std::string &bytes) {
        return [this, bytes] { write_file(app_ / "bhint.dat", bytes); };
    };
    const auto home = [](const std::string &text) {
        return [text] { setenv("HOME", text.c_str(), 1); };
    };
    // Root reads everything; the unreadable cases need an ordinary user.
    const auto as_nobody = [] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
    };
    const std::string none = "-1 1 untouched", exe3 = "3 0 " + (app_ / "3" / "vantle").string();
    const std::string no_file =
        "Failed to open boot hint file for reading (2 No such file or directory)\n";
    std::vector<Case> cases = {
        {"host byte order", hint(std::string("\x03\x00\x00\x00\xFC\xFF\xFF\xFF", 8)), exe3, ""},
        {"slot 0", hint(valid_hint(0)), "0 0 " + (app_ / "0" / "vantle").string(), ""},
        {"check of zero", hint(hint_bytes(3, 0)), none, "Corrupt boot hint file\n"},
        {"check equal to the slot", hint(hint_bytes(3, 3)), none, "Corrupt boot hint file\n"},
        {"(-1, 0) is valid but negative", hint(hint_bytes(-1, 0)), none, ""},
        {"negative slot", hint(valid_hint(-7)), "-7 1 untouched", ""},
        {"lowest slot", hint(valid_hint(INT32_MIN)), "-2147483648 1 untouched", ""},
        {"slot not installed", hint(valid_hint(5)), "5 1 untouched", ""},
        {"no boot hint", [] {}, none, no_file},
        {"boot hint is a directory", [&] { fs::create_directories(app_ / "bhint.dat"); }, none,
         "Failed to read boot hint file (0 21)\n"},
        {"a directory named vantle counts as the executable",
         [&] {
             write_file(app_ / "bhint.dat", valid_hint(4));
             fs::create_directories(app_ / "4" / "vantle");
         },
         "4 0 " + (app_ / "4" / "vantle").string(), ""},
        {"application directory unreadable",
         [&] {
             write_file(app_ / "bhint.dat", valid_hint(3));
             chmod(app_.c_str(), 0);
         },
         none, "Failed to open boot hint file for reading (13 Permission denied)\n", as_nobody},
        {"slot directory unreadable",
         [&] {
             write_file(app_ / "bhint.dat", valid_hint(3));
             chmod((app_ / "3").c_str(), 0);
         },
         "3 1 untouched", "", as_nobody},
        // With no usable home nothing is read relative to the working directory.
        {"HOME not UTF-8", hint(valid_hint(3)), none, no_file, home("/nonexistent\xFF")},
        {"HOME truncated UTF-8", hint(valid_hint(3)), none, no_file, home("\xE2\x82")},
        {"HOME too long", hint(valid_hint(3)), none, no_file, home(std::string(600, 'h'))},
    };
    if (geteuid() == 0) { // only root can become a user without an entry
        uid_t no_entry = 47000;
        while (getpwuid(no_entry) != nullptr) ++no_entry;
        cases.push_back(
            {"HOME unset, no user entry", hint(valid_hint(3)), none, no_file, [no_entry] {
                 unsetenv("HOME");
                 if (setgid(no_entry) != 0 || setuid(no_entry) != 0) _exit(91);
             }});
    }
    const std::string full = valid_hint(3) + "\x07";
    for (size_t size = 0; size <= 9; ++size) {
        const std::string items = size < 4 ? "0" : "1";
        cases.push_back({std::to_string(size) + " bytes", hint(full.substr(0, size)),
                         size < 8 ? none : exe3,
                         size < 8 ? "Failed to read boot hint file (" + items + " 0)\n" : ""});
    }
    for (const auto &c : cases) {
        reset();
        c.arrange();
        const auto got = find(c.child);
        EXPECT_EQ(got.exit_code, 0) << c.what;
        EXPECT_EQ(got.result, c.result) << c.what;
        EXPECT_EQ(got.out, c.out + c.out) << c.what;
    }
}

// The launch loop's lookup: the path as the file calls take it, following an
// application name set after an earlier lookup, and refused where it cannot fit.
TEST_F(BootHint, TheUtf8LookupFollowsTheNameAndItsBuffer) {
    reset();
    write_file(app_ / "bhint.dat", valid_hint(3));
    write_file(home_ / ".Tarnwick" / "bhint.dat", valid_hint(0));
    write_file(home_ / ".Tarnwick" / "0" / "vantle", "");
    const std::string unnamed = (home_ / ".Tarnwick" / "0" / "vantle").string();
    const std::string named = (app_ / "3" / "vantle").string();
    const auto got = run_forked([&] {
        setenv("HOME", home_.c_str(), 1);
        char buf[4096] = "untouched";
        std::string text = std::to_string(zt_install_find_app_utf8(buf, sizeof buf)) + buf;
        name_app();
        text += "|" + std::to_string(zt_install_find_app_utf8(buf, sizeof buf)) + buf;
        strcpy(buf, "untouched");
        text += "|" + std::to_string(zt_install_find_app_utf8(buf, named.size())) + buf;
        return text + "|" + std::to_string(zt_install_find_app_utf8(buf, named.size() + 1)) + buf;
    });
    EXPECT_EQ(got.result, "0" + unnamed + "|0" + named + "|1untouched|0" + named);
    EXPECT_EQ(got.out, "");
}

} // namespace
