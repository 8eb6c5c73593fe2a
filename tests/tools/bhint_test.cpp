// The built vantle-bhint against a temporary home.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <thread>
#include <filesystem>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/launcher/process_harness.h"

namespace {

namespace fs = std::filesystem;

class BootHintTool : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = harness::make_temp_dir("vantle_bhint_");
        app_ = home_ / ".Tarnwick" / "Vantle";
    }
    void TearDown() override { fs::remove_all(home_); }

    harness::SpawnOptions bhint(std::vector<std::string> args, const fs::path &home = {}) {
        args.insert(args.begin(), VANTLE_BHINT);
        return {.argv = args, .env = {"HOME=" + (home.empty() ? home_ : home).string()}};
    }
    harness::Outcome run(std::vector<std::string> args, const fs::path &home = {}) {
        return harness::run(bhint(std::move(args), home));
    }

    std::string hint_bytes() { return harness::read_file(app_ / "bhint.dat"); }

    static std::string encoded(int32_t slot) {
        const uint32_t fields[2] = {static_cast<uint32_t>(slot), ~static_cast<uint32_t>(slot)};
        return std::string(reinterpret_cast<const char *>(fields), sizeof fields);
    }

    fs::path home_, app_;
};

// Show fails with the launcher's messages until set writes the 8 bytes that it reads back.
// Set refuses a slot without executable unless forced; a second set renames a new file over
// the old hint (a reader never sees it half written).
TEST_F(BootHintTool, SetWritesWhatShowReads) {
    const auto missing = run({"show"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.out,
              "Failed to open boot hint file for reading (2 No such file or directory)\n");
    EXPECT_EQ(run({"set", "7"}).exit_code, 1);
    EXPECT_FALSE(fs::exists(app_ / "bhint.dat"));
    ASSERT_EQ(run({"set", "--force", "7"}).exit_code, 0);
    EXPECT_EQ(hint_bytes(), encoded(7));

    fs::create_directories(app_ / "12");
    std::ofstream(app_ / "12" / "vantle") << "#!/bin/sh\n";
    struct stat before {
    }, after{};
    ASSERT_EQ(stat((app_ / "bhint.dat").c_str(), &before), 0);
    ASSERT_EQ(run({"set", "12"}).exit_code, 0);
    ASSERT_EQ(stat((app_ / "bhint.dat").c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(hint_bytes(), encoded(12));
    EXPECT_EQ(run({"show"}).out, "12\n");

    std::ofstream(app_ / "bhint.dat", std::ios::binary) << std::string("\x03\0\0\0\0\0\0\0", 8);
    const auto corrupt = run({"show"});
    EXPECT_EQ(corrupt.exit_code, 1);
    EXPECT_EQ(corrupt.out, "Corrupt boot hint file\n");
}

// The launcher leaves out a path component that does not fit 511 characters; the
// tool must not write to such a shortened path (a user's file named Vantle or
// .Tarnwick), nor anywhere else.
TEST_F(BootHintTool, AHomeTooLongForThePathsIsRefusedAndNothingIsWritten) {
    struct stat st {};
    for (const size_t length : {484u, 485u, 494u, 501u, 502u, 504u, 505u, 511u, 600u}) {
        fs::path home = home_;
        for (size_t left = length - home.string().size(); left > 0;) {
            const size_t part = std::min<size_t>(left - 1, 200);
            home /= std::string(part, static_cast<char>('a' + left % 26));
            left -= part + 1;
        }
        ASSERT_EQ(home.string().size(), length);
        fs::create_directories(home);
        std::ofstream(home / "Vantle") << "a user's file";
        auto listing = [&] {
            std::vector<std::string> names;
            for (const auto &e : fs::recursive_directory_iterator(home_))
                names.push_back(e.path().string() + ":" +
                                std::to_string(e.is_regular_file() ? fs::file_size(e) : 0));
            std::sort(names.begin(), names.end());
            return names;
        };
        const auto before = listing();
        const auto set = run({"set", "--force", "1"}, home);
        const auto show = run({"show"}, home);
        if (length == 484) {
            EXPECT_EQ(set.exit_code, 0);
            EXPECT_EQ(stat((home / ".Tarnwick/Vantle/bhint.dat").c_str(), &st), 0);
            EXPECT_EQ(show.out, "1\n");
        } else {
            EXPECT_EQ(set.exit_code, 1) << length;
            EXPECT_EQ(show.exit_code, 1) << length;
            EXPECT_EQ(show.out, "") << length;
            EXPECT_EQ(listing(), before) << length;
        }
        fs::remove_all(home_ / home.lexically_relative(home_).begin()->string());
    }
}

// The link stays and its target gets the new hint, with the target's mode and owner;
// a new hint is 0644 less the umask.
TEST_F(BootHintTool, ALinkedHintIsReplacedAtItsTargetKeepingModeAndOwner) {
    const fs::path target = home_ / "elsewhere" / "hint.bin";
    fs::create_directories(target.parent_path());
    fs::create_directories(app_);
    std::ofstream(target, std::ios::binary) << encoded(1);
    ASSERT_EQ(chmod(target.c_str(), 0604), 0);
    const bool chowned = chown(target.c_str(), 4242, 4343) == 0; // as root only
    fs::create_symlink("../../elsewhere/hint.bin", app_ / "bhint.dat");

    ASSERT_EQ(run({"set", "--force", "2"}).exit_code, 0);
    EXPECT_TRUE(fs::is_symlink(app_ / "bhint.dat"));
    EXPECT_EQ(fs::read_symlink(app_ / "bhint.dat"), "../../elsewhere/hint.bin");
    EXPECT_EQ(harness::read_file(target), encoded(2));
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (chowned) {
        EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(4242u, 4343u));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), {}), 1);

    fs::remove_all(app_);
    const mode_t saved = umask(026);
    const auto fresh = run({"set", "--force", "3"});
    umask(saved);
    ASSERT_EQ(fresh.exit_code, 0);
    ASSERT_EQ(stat((app_ / "bhint.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Sets killed at any moment while another set races them leave a whole hint, old or
// new, for readers meanwhile too; the next set leaves no temporary behind: it removes
// those that no running set holds locked, and none that a racing set is writing.
TEST_F(BootHintTool, RacingAndKilledSetsLeaveAWholeHintAndNoTemporary) {
    fs::create_directories(app_);
    const std::string held = "bhint.dat.vantle-bhint-Held01";
    for (const std::string name : {"bhint.dat.vantle-bhint-Ab12Cd", "bhint.dat.backup"})
        std::ofstream(app_ / name) << "x";
    std::ofstream(app_ / held) << "x";
    const int lock = open((app_ / held).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);

    // Kills spread over the time that a whole set takes here.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run({"set", "--force", "1"}).exit_code, 0);
    const auto whole = std::chrono::steady_clock::now() - started;
    const std::vector<std::string> valid = {encoded(1), encoded(2), encoded(3), encoded(4)};
    auto whole_hint = [&] { return std::count(valid.begin(), valid.end(), hint_bytes()) == 1; };
    for (int i = 0; i < 40; ++i) {
        harness::Process killed(bhint({"set", "--force", std::to_string(i % 3 + 1)}));
        harness::Process racing(bhint({"set", "--force", "4"}));
        std::this_thread::sleep_for(whole * (i % 10) / 10);
        EXPECT_TRUE(whole_hint()) << i;
        killed.signal(SIGKILL);
        killed.wait();
        EXPECT_EQ(racing.wait().exit_code, 0) << i;
        EXPECT_TRUE(whole_hint()) << i;
    }
    ASSERT_EQ(run({"set", "--force", "9"}).exit_code, 0);
    EXPECT_EQ(hint_bytes(), encoded(9));
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(app_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bhint.dat", "bhint.dat.backup", held}))
        << "a locked temporary belongs to a set still running; other files are the user's";
    close(lock);
    ASSERT_EQ(run({"set", "--force", "8"}).exit_code, 0);
    EXPECT_FALSE(fs::exists(app_ / held));
}

} // namespace
