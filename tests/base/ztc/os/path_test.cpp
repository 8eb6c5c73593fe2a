#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "base/ztc/os/path.h"

namespace {

zt_path_t make_path(const std::wstring &text) {
    zt_path_t p;
    zt_path_from_wide(&p, text.c_str());
    return p;
}

std::wstring str(const zt_path_t &p) {
    return zt_path_str(&p);
}

std::string times(size_t n, const std::string &s) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

TEST(PathAppend, JoinsWithOneSeparatorAndKeepsTheComponentAsGiven) {
    const wchar_t *cases[][3] = {
        {L"a", L"b", L"a/b"},   {L"a/", L"b", L"a/b"}, {L"a///", L"b", L"a/b"},
        {L"/", L"b", L"/b"},    {L"///", L"b", L"/b"}, {L"", L"b", L"b"},
        {L"a", L"/b", L"a//b"}, {L"a", L"", L"a/"},    {L"", L"/b", L"/b"},
    };
    for (const auto &c : cases) {
        zt_path_t p = make_path(c[0]);
        EXPECT_EQ(zt_path_append(&p, c[1]), ERROR_SUCCESS) << c[0] << " + " << c[1];
        EXPECT_EQ(str(p), c[2]) << c[0] << " + " << c[1];
    }
}

TEST(PathAppend, RefusesWhatWouldNotFitAndLeavesThePathUnchanged) {
    const size_t cases[][3] = {{300, 210, true}, {300, 211, false}, {0, 511, true},
                               {0, 512, false},  {510, 0, true},    {511, 0, false},
                               {0, 4000, false}};
    for (const auto &[base_len, len, fits] : cases) {
        const std::wstring base(base_len, L'x'), component(len, L'y');
        const std::wstring joined = base_len == 0 ? component : base + L"/" + component;
        zt_path_t p = make_path(base);
        EXPECT_EQ(zt_path_append(&p, component.c_str()), fits ? ERROR_SUCCESS : ERROR_OUT_OF_MEMORY)
            << base_len << " + " << len;
        EXPECT_EQ(str(p), fits ? joined : base) << base_len << " + " << len;
    }
}

TEST(PathInit, FromWideCutsToCapacityAndTakesNullAsEmpty) {
    zt_path_t p;
    std::fill(std::begin(p.chars), std::end(p.chars), L'#');
    zt_path_from_wide(&p, std::wstring(600, L'q').c_str());
    EXPECT_EQ(str(p), std::wstring(511, L'q'));
    zt_path_from_wide(&p, nullptr);
    EXPECT_EQ(str(p), L"");
}

TEST(PathInit, FromUtf8StoresCharactersOrFailsLeavingATerminatedPath) {
    const struct {
        std::string utf8;
        size_t expected; // ZT_UTF_ERROR for failure, then the path is empty
        std::wstring text;
    } cases[] = {
        {"/home/u", 7, L"/home/u"},
        {"", 0, L""},
        {"/h\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80", 7, L"/h\u00e9/\u20ac/\U0001F600"},
        {std::string(511, 'a'), 511, std::wstring(511, L'a')},
        {std::string(512, 'a'), ZT_UTF_ERROR, L""},
        {"/home/\xFF", ZT_UTF_ERROR, L""},
        {"/home/\xC3", ZT_UTF_ERROR, L""},
        {"/home/\xED\xA0\x80", ZT_UTF_ERROR, L""},
    };
    for (const auto &c : cases) {
        zt_path_t p;
        std::fill(std::begin(p.chars), std::end(p.chars), L'#');
        EXPECT_EQ(zt_path_from_utf8(&p, c.utf8.c_str()), c.expected) << c.utf8;
        EXPECT_EQ(str(p), c.text) << c.utf8; // also fails on an unterminated path
    }
}

TEST(WideText, SearchBoundedLengthAndBoundedCopy) {
    const wchar_t *text = L"abcabc";
    EXPECT_EQ(zt_wcschr(text, L'c'), text + 2);
    EXPECT_EQ(zt_wcschr(text, L'z'), nullptr);
    EXPECT_EQ(zt_wcschr(text, 0), nullptr);

    const struct {
        const wchar_t *text;
        size_t max, expected;
    } lengths[] = {{nullptr, 5, 0}, {L"abc", 0, 0}, {L"", 5, 0},
                   {L"abc", 2, 2},  {L"abc", 3, 3}, {L"abc", 9, 3}};
    for (const auto &c : lengths) EXPECT_EQ(zt_wcsnlen(c.text, c.max), c.expected) << c.max;

    // All 8 slots after the copy; '#' is untouched.
    const struct {
        const wchar_t *src;
        size_t max;
        std::wstring expected;
    } copies[] = {
        {L"abc", 8, std::wstring(L"abc\0####", 8)},
        {L"abc", 4, std::wstring(L"abc\0####", 8)},
        {L"abc", 3, L"abc#####"},
        {L"abc", 2, L"ab######"},
        {L"abc", 0, L"########"},
        {nullptr, 8, std::wstring(L"\0#######", 8)},
    };
    for (const auto &c : copies) {
        wchar_t dst[8];
        std::fill(std::begin(dst), std::end(dst), L'#');
        zt_wcsncpy(dst, c.src, c.max);
        EXPECT_EQ(std::wstring(dst, 8), c.expected) << c.max;
    }
}

TEST(PathBridge, ToUtf8AlwaysLeavesATerminatedTextInsideTheBuffer) {
    const struct {
        std::wstring text;
        size_t size;
        std::string expected;
        int error;
    } cases[] = {
        {L"/a/\u00e9", 16, "/a/\xC3\xA9", 0},
        {L"/a/\u00e9", 6, "/a/\xC3\xA9", 0},
        {L"/a/\u00e9", 5, "", ENAMETOOLONG}, // an exact fit leaves no room for the terminator
        {L"/a/\u00e9", 4, "", ENAMETOOLONG},
        {L"/a/\u00e9", 1, "", ENAMETOOLONG},
        {std::wstring(L"/x") + wchar_t(0x110000), 16, "", ENOENT},
        {std::wstring(511, L'\U0010FFFF'), 4096, times(511, "\xF4\x8F\xBF\xBF"), 0},
        {L"abc", 0, "", 0},
    };
    for (const auto &c : cases) {
        const zt_path_t p = make_path(c.text);
        std::array<char, 4100> buf;
        buf.fill('#');
        errno = 0;
        EXPECT_EQ(zt_path_to_utf8(&p, buf.data(), c.size), buf.data());
        EXPECT_EQ(errno, c.error) << c.size;
        EXPECT_EQ(buf[c.size], '#') << "write past the buffer at size " << c.size;
        if (c.size == 0) continue;
        EXPECT_EQ(std::string(buf.data()), c.expected) << c.size;
    }
}

class FsBridge : public ::testing::Test {
  protected:
    // A directory whose name takes 240 bytes for 80 characters, with a file f in it.
    void SetUp() override {
        char tmpl[] = "/tmp/ztc_path_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        dir_ = root_ + "/" + times(80, "\xE2\x82\xAC");
        wdir_ = std::wstring(root_.begin(), root_.end()) + L"/" + std::wstring(80, L'\u20ac');
        std::filesystem::create_directory(dir_);
        fclose(fopen((dir_ + "/f").c_str(), "wb"));
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string root_, dir_;
    std::wstring wdir_;
};

TEST_F(FsBridge, StatAndOpenSucceedUpToTheBufferAndFailBeyondIt) {
    // Doubled separators stretch the UTF-8 form of dir_/f to the given length.
    for (const auto &[bytes, expected_errno] :
         {std::pair{1023, 0}, {1024, ENAMETOOLONG}, {1100, ENAMETOOLONG}}) {
        const size_t slashes = static_cast<size_t>(bytes) - dir_.size() - 1;
        struct stat st;
        ASSERT_EQ(stat((dir_ + std::string(slashes, '/') + "f").c_str(), &st), 0)
            << "the file is there";
        const std::wstring path = wdir_ + std::wstring(slashes, L'/') + L"f";

        errno = 0;
        EXPECT_EQ(zt_path_stat(path.c_str(), &st), expected_errno == 0 ? 0 : -1) << bytes;
        EXPECT_EQ(errno, expected_errno) << bytes;
        errno = 0;
        FILE *f = zt_fopen(path.c_str(), L"rb");
        EXPECT_EQ(f != nullptr, expected_errno == 0) << bytes;
        EXPECT_EQ(errno, expected_errno) << bytes;
        if (f != nullptr) {
            EXPECT_EQ(zt_fclose(f), 0);
        }
    }
}

TEST_F(FsBridge, ExistenceOpenAndReadPassThroughAndBadInputFails) {
    const std::wstring file = wdir_ + L"/f";
    for (const auto &[path, exists] : {std::pair{file, true},
                                       {wdir_, true},
                                       {file + L"x", false},
                                       {file + wchar_t(0x110000), false}}) {
        const zt_path_t p = make_path(path);
        EXPECT_EQ(zt_path_exists(&p), exists);
    }

    FILE *w = fopen((dir_ + "/f").c_str(), "wb");
    fputs("12345678", w);
    fclose(w);
    FILE *f = zt_fopen(file.c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    char buf[4];
    EXPECT_EQ(zt_fread(buf, 4, 1, f), 1u);
    EXPECT_EQ(std::string(buf, 4), "1234");
    EXPECT_EQ(zt_fclose(f), 0);

    for (const auto &[path, mode, expected_errno] :
         {std::tuple{file + L"x", std::wstring(L"rb"), ENOENT},
          {file + wchar_t(0x110000), L"rb", ENOENT},
          {file, std::wstring(40, L'r'), EINVAL}}) {
        errno = 0;
        EXPECT_EQ(zt_fopen(path.c_str(), mode.c_str()), nullptr);
        EXPECT_EQ(errno, expected_errno);
    }
    EXPECT_EQ(zt_fread(buf, 1, 1, nullptr), 0u);
    EXPECT_EQ(zt_fclose(nullptr), EOF);
}

} // namespace
