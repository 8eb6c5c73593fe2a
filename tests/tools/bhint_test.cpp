// The built vantle-bhint against a temporary home.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
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

    harness::Outcome run(std::vector<std::string> args) {
        harness::SpawnOptions options;
        options.argv = {VANTLE_BHINT};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.env = {"HOME=" + home_.string()};
        harness::Process p(options);
        return p.wait();
    }

    void install_slot(int slot) {
        fs::create_directories(app_ / std::to_string(slot));
        std::ofstream(app_ / std::to_string(slot) / "vantle") << "#!/bin/sh\n";
    }

    std::string hint_bytes() { return harness::read_file((app_ / "bhint.dat").string()); }

    static std::string encoded(int32_t slot) {
        const uint32_t fields[2] = {static_cast<uint32_t>(slot), ~static_cast<uint32_t>(slot)};
        return std::string(reinterpret_cast<const char *>(fields), sizeof fields);
    }

    fs::path home_, app_;
};

// Set writes the 8 bytes that show reads back; a second set renames a new file over
// the old hint (a reader never sees it half written) and leaves no temporary file.
TEST_F(BootHintTool, SetReplacesTheHintWholeAndShowReadsIt) {
    install_slot(1);
    install_slot(12);
    struct stat before {
    }, after{};
    ASSERT_EQ(run({"set", "1"}).exit_code, 0);
    ASSERT_EQ(stat((app_ / "bhint.dat").c_str(), &before), 0);
    ASSERT_EQ(run({"set", "12"}).exit_code, 0);
    ASSERT_EQ(stat((app_ / "bhint.dat").c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(hint_bytes(), encoded(12));
    EXPECT_EQ(run({"show"}).out, "12\n");
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(app_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"1", "12", "bhint.dat"}));
}

TEST_F(BootHintTool, SetRefusesASlotWithoutExecutableUnlessForced) {
    auto refused = run({"set", "7"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_FALSE(fs::exists(app_ / "bhint.dat"));

    auto forced = run({"set", "--force", "7"});
    EXPECT_EQ(forced.exit_code, 0);
    EXPECT_TRUE(fs::is_directory(app_)) << "missing directories are created";
    EXPECT_EQ(hint_bytes(), encoded(7));
}

TEST_F(BootHintTool, ShowPrintsTheLaunchersMessageAndFails) {
    auto missing = run({"show"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_EQ(missing.out,
              "Failed to open boot hint file for reading (2 No such file or directory)\n");

    fs::create_directories(app_);
    std::ofstream(app_ / "bhint.dat", std::ios::binary) << std::string("\x03\0\0\0\0\0\0\0", 8);
    auto corrupt = run({"show"});
    EXPECT_EQ(corrupt.exit_code, 1);
    EXPECT_EQ(corrupt.out, "Corrupt boot hint file\n");
}

TEST_F(BootHintTool, BadCommandLinesAreUsageErrorsThatWriteNothing) {
    install_slot(1);
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"set"},
        {"set", "-1"},
        {"set", "x1"},
        {"set", "1x"},
        {"set", ""},
        {"set", "2147483648"},
        {"set", "1", "2"},
        {"show", "1"},
    };
    for (const auto &args : bad) {
        auto r = run(args);
        EXPECT_EQ(r.exit_code, 2) << testing::PrintToString(args);
    }
    EXPECT_FALSE(fs::exists(app_ / "bhint.dat"));
    auto help = run({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("Usage: vantle-bhint"), std::string::npos);
}

} // namespace
