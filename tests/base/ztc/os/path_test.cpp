#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::string repeat_bytes(const std::string &s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

struct AppendCase {
    const wchar_t *base;
    const wchar_t *component;
    const wchar_t *expected;
};

TEST(PathAppend, JoinsWithOneSeparatorAndKeepsTheComponentAsGiven) {
    const AppendCase cases[] = {
        {L"a", L"b", L"a/b"},       {L"a/", L"b", L"a/b"}, {L"a///", L"b", L"a/b"},
        {L"/", L"b", L"/b"},        {L"///", L"b", L"/b"}, {L"", L"b", L"b"},
        {L"a", L"/b", L"a//b"},     {L"a", L"", L"a/"},    {L"a/", L"", L"a/"},
        {L"/x/y", L"z", L"/x/y/z"}, {L"", L"/b", L"/b"},
    };
    for (const auto &c : cases) {
        zt_path_t p = make_path(c.base);
        EXPECT_EQ(zt_path_append(&p, c.component), ERROR_SUCCESS) << c.base << " + " << c.component;
        EXPECT_EQ(str(p), c.expected) << c.base << " + " << c.component;
    }
}

struct CapacityCase {
    size_t base_len;
    size_t component_len;
    error_code_t expected;
};

TEST(PathAppend, RefusesWhatWouldNotFitAndLeavesThePathUnchanged) {
    const CapacityCase cases[] = {
        {300, 210, ERROR_SUCCESS},      {300, 211, ERROR_OUT_OF_MEMORY},
        {0, 511, ERROR_SUCCESS},        {0, 512, ERROR_OUT_OF_MEMORY},
        {510, 0, ERROR_SUCCESS},        {511, 0, ERROR_OUT_OF_MEMORY},
        {0, 4000, ERROR_OUT_OF_MEMORY},
    };
    for (const auto &c : cases) {
        const std::wstring base(c.base_len, L'x');
        const std::wstring component(c.component_len, L'y');
        zt_path_t p = make_path(base);
        EXPECT_EQ(zt_path_append(&p, component.c_str()), c.expected)
            << c.base_len << " + " << c.component_len;
        if (c.expected == ERROR_SUCCESS) {
            const std::wstring joined = c.base_len == 0 ? component : base + L"/" + component;
            EXPECT_EQ(str(p), joined);
        } else {
            EXPECT_EQ(str(p), base);
        }
    }
}

TEST(PathInit, FromWideCutsToCapacity) {
    const std::wstring long_text(600, L'q');
    zt_path_t p;
    std::fill(std::begin(p.chars), std::end(p.chars), L'#');
    zt_path_from_wide(&p, long_text.c_str());
    EXPECT_EQ(str(p), long_text.substr(0, 511));

    zt_path_from_wide(&p, nullptr);
    EXPECT_EQ(str(p), L"");

    const zt_path_t src = make_path(L"/a/b");
    zt_path_t dst = make_path(L"zzz");
    zt_path_copy(&dst, &src);
    EXPECT_EQ(str(dst), L"/a/b");
}

struct Utf8InitCase {
    std::string utf8;
    size_t expected; // ZT_UTF_ERROR for failure
    std::wstring text;
};

TEST(PathInit, FromUtf8StoresCharactersOrFailsLeavingATerminatedPath) {
    const Utf8InitCase cases[] = {
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
        EXPECT_LT(zt_wcsnlen(p.chars, ZT_PATH_SLOTS), size_t{ZT_PATH_SLOTS}) << c.utf8;
        EXPECT_EQ(str(p), c.text) << c.utf8;
    }
}

TEST(WideText, SearchAndBoundedLengthEdges) {
    const wchar_t *text = L"abcabc";
    EXPECT_EQ(zt_wcschr(text, L'c'), text + 2);
    EXPECT_EQ(zt_wcschr(text, L'z'), nullptr);
    EXPECT_EQ(zt_wcschr(text, 0), nullptr);

    struct NlenCase {
        const wchar_t *text;
        size_t max;
        size_t expected;
    };
    const NlenCase nlen[] = {
        {nullptr, 5, 0}, {L"abc", 0, 0}, {L"", 5, 0},
        {L"abc", 2, 2},  {L"abc", 3, 3}, {L"abc", 9, 3},
    };
    for (const auto &c : nlen) {
        EXPECT_EQ(zt_wcsnlen(c.text, c.max), c.expected) << c.max;
    }
}

TEST(WideText, BoundedCopyNeitherPadsNorTerminatesOnItsOwn) {
    struct Case {
        const wchar_t *src;
        size_t max;
        std::wstring expected; // all 8 slots, '#' untouched
    };
    const Case cases[] = {
        {L"abc", 8, std::wstring(L"abc\0####", 8)},
        {L"abc", 4, std::wstring(L"abc\0####", 8)},
        {L"abc", 3, L"abc#####"},
        {L"abc", 2, L"ab######"},
        {L"abc", 0, L"########"},
        {nullptr, 8, std::wstring(L"\0#######", 8)},
    };
    for (const auto &c : cases) {
        wchar_t dst[8];
        std::fill(std::begin(dst), std::end(dst), L'#');
        zt_wcsncpy(dst, c.src, c.max);
        EXPECT_EQ(std::wstring(dst, 8), c.expected) << c.max;
    }
}

struct Utf8OutCase {
    std::wstring text;
    size_t size;
    std::string expected; // the text in the buffer; the byte after it must be 0
};

TEST(PathBridge, ToUtf8AlwaysLeavesATerminatedTextInsideTheBuffer) {
    const Utf8OutCase cases[] = {
        {L"/a/\u00e9", 16, "/a/\xC3\xA9"},
        {L"/a/\u00e9", 6, "/a/\xC3\xA9"},
        {L"/a/\u00e9", 5, ""}, // exact fit leaves no room for the terminator
        {L"/a/\u00e9", 4, ""},
        {L"/a/\u00e9", 1, ""},
        {std::wstring(L"/x") + wchar_t(0x110000), 16, ""},
        {std::wstring(511, L'\U0010FFFF'), 4096, repeat_bytes("\xF4\x8F\xBF\xBF", 511)},
    };
    for (const auto &c : cases) {
        const zt_path_t p = make_path(c.text);
        std::array<char, 4100> buf;
        buf.fill('#');
        EXPECT_EQ(zt_path_to_utf8(&p, buf.data(), c.size), buf.data());
        const std::string got(buf.data());
        ASSERT_LT(got.size(), c.size);
        EXPECT_EQ(got, c.expected) << c.size;
        EXPECT_EQ(buf[c.size], '#') << "write past the buffer at size " << c.size;
    }
    std::array<char, 4> untouched{'#', '#', '#', '#'};
    const zt_path_t p = make_path(L"abc");
    zt_path_to_utf8(&p, untouched.data(), 0);
    EXPECT_EQ(untouched[0], '#');
}

class FsBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ztc_path_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    // Creates a file whose UTF-8 path is exactly `bytes` long, made of nested
    // directories of three-byte characters so that multi-byte encoding matters.
    std::string file_of_length(size_t bytes) {
        std::string path = root_;
        while (bytes - path.size() > 201) {
            path += "/" + repeat_bytes("\xE2\x82\xAC", 66);
            mkdir(path.c_str(), 0755);
        }
        const size_t left = bytes - path.size() - 1;
        path += "/" + repeat_bytes("\xE2\x82\xAC", left / 3) + std::string(left % 3, 'a');
        EXPECT_EQ(path.size(), bytes);
        if (FILE *f = fopen(path.c_str(), "wb")) fclose(f);
        return path;
    }
    static std::wstring wide(const std::string &utf8) {
        zt_path_t p;
        EXPECT_NE(zt_path_from_utf8(&p, utf8.c_str()), ZT_UTF_ERROR);
        return zt_path_str(&p);
    }

    std::string root_;
};

TEST_F(FsBridge, StatAndOpenSucceedUpToTheBufferAndFailBeyondIt) {
    struct Case {
        size_t bytes;
        int expected_errno; // 0: the call succeeds
    };
    for (const Case c : {Case{1023, 0}, Case{1024, ENAMETOOLONG}, Case{1100, ENAMETOOLONG}}) {
        const std::string utf8 = file_of_length(c.bytes);
        struct stat os_st;
        ASSERT_EQ(stat(utf8.c_str(), &os_st), 0) << "fixture file must exist";
        const std::wstring path = wide(utf8);

        struct stat st;
        errno = 0;
        EXPECT_EQ(zt_path_stat(path.c_str(), &st), c.expected_errno == 0 ? 0 : -1) << c.bytes;
        EXPECT_EQ(errno, c.expected_errno) << c.bytes;

        errno = 0;
        FILE *f = zt_fopen(path.c_str(), L"rb");
        EXPECT_EQ(f != nullptr, c.expected_errno == 0) << c.bytes;
        EXPECT_EQ(errno, c.expected_errno) << c.bytes;
        if (f != nullptr) {
            EXPECT_EQ(zt_fclose(f), 0);
        }
    }
}

TEST_F(FsBridge, ExistenceIsAnySuccessfulStatus) {
    const std::string file = root_ + "/f\xC3\xA9";
    fclose(fopen(file.c_str(), "wb"));
    const std::string dir = root_ + "/d";
    mkdir(dir.c_str(), 0755);
    struct Case {
        std::wstring path;
        bool exists;
    };
    const Case cases[] = {
        {wide(file), true},
        {wide(dir), true},
        {wide(root_ + "/missing"), false},
        {wide(root_) + L"/f" + wchar_t(0x110000), false},
    };
    for (const auto &c : cases) {
        const zt_path_t p = make_path(c.path);
        EXPECT_EQ(zt_path_exists(&p), c.exists);
    }
}

TEST_F(FsBridge, OpenReadsThroughAndReportsBadInput) {
    const std::string file = root_ + "/data";
    FILE *w = fopen(file.c_str(), "wb");
    fputs("12345678", w);
    fclose(w);

    FILE *f = zt_fopen(wide(file).c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    char buf[4];
    EXPECT_EQ(zt_fread(buf, 4, 1, f), 1u);
    EXPECT_EQ(std::string(buf, 4), "1234");
    EXPECT_EQ(zt_fclose(f), 0);

    struct Case {
        std::wstring path;
        std::wstring mode;
        int expected_errno;
    };
    const Case cases[] = {
        {wide(root_ + "/missing"), L"rb", ENOENT},
        {wide(file) + wchar_t(0x110000), L"rb", ENOENT},
        {wide(file), std::wstring(40, L'r'), EINVAL},
    };
    for (const auto &c : cases) {
        errno = 0;
        EXPECT_EQ(zt_fopen(c.path.c_str(), c.mode.c_str()), nullptr);
        EXPECT_EQ(errno, c.expected_errno);
    }
    EXPECT_EQ(zt_fread(buf, 1, 1, nullptr), 0u);
    EXPECT_EQ(zt_fclose(nullptr), EOF);
}

} // namespace
