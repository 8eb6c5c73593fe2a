#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "tests/tools/record_bytes.h"
#include "tools/logdump_record.h"

namespace {

using bytes = std::vector<uint8_t>;

bytes make_record(const record_bytes::fields &f) {
    const std::string b = record_bytes::make(f);
    return bytes(b.begin(), b.end());
}

TEST(LogdumpRecord, ReadsEveryField) {
    // The texts are views into the bytes, which must outlive the record.
    const bytes wide =
        make_record({98, 4, 0x1122334455667788, 999999, 63, "t", "base/x", "fn", -3});
    const auto r = logdump::read_record(wide);
    ASSERT_EQ(r.what, logdump::status::ok);
    EXPECT_EQ(r.size, 60u);
    const auto &x = r.rec;
    EXPECT_EQ(std::tie(x.thread, x.level, x.seconds, x.microseconds, x.module, x.line),
              std::make_tuple(98, 4, int64_t{0x1122334455667788}, 999999u, 63, -3));
    EXPECT_EQ(std::tie(x.file, x.function, x.text), std::make_tuple("base/x", "fn", "t"));
}

struct damage_case {
    const char *what;
    size_t keep;    // bytes of the good record kept (0: all)
    size_t poke_at; // byte to overwrite (SIZE_MAX: none)
    uint8_t value;
    logdump::status expect;
    size_t problem;
    bool more; // more input could mend it
};

TEST(LogdumpRecord, ReportsDamageWithItsOffset) {
    const bytes good = make_record({3, 2, 1, 2, 0, "hello", "file", "func", 10});
    const damage_case cases[] = {
        {"bad magic", 0, 1, 0x00, logdump::status::bad_magic, 0, false},
        {"unknown version", 0, 7, 3, logdump::status::bad_version, 4, false},
        {"tail inside the fixed part", 20, SIZE_MAX, 0, logdump::status::truncated, 20, true},
        {"tail inside the magic", 3, SIZE_MAX, 0, logdump::status::truncated, 3, true},
        {"file length past the end", 0, 32, 0x7F, logdump::status::bad_length, 32, true},
        {"zero file length", 0, 35, 0, logdump::status::bad_length, 32, false},
        {"text without its NUL", 0, good.size() - 1, 'x', logdump::status::bad_length, 54, false},
        {"tail inside the text", good.size() - 2, SIZE_MAX, 0, logdump::status::bad_length, 54,
         true},
        {"tail inside the line", 52, SIZE_MAX, 0, logdump::status::truncated, 52, true},
    };
    for (const auto &c : cases) {
        bytes b(good.begin(), good.begin() + static_cast<long>(c.keep ? c.keep : good.size()));
        if (c.poke_at != SIZE_MAX) b[c.poke_at] = c.value;
        const auto r = logdump::read_record(b);
        EXPECT_EQ(r.what, c.expect) << c.what;
        EXPECT_EQ(r.problem, c.problem) << c.what;
        EXPECT_EQ(r.more, c.more) << c.what;
    }
}

// A reader that bounds record sizes learns of a longer record from its lengths,
// without waiting for the bytes.
TEST(LogdumpRecord, ARecordPastTheLimitIsTooLongAtOnce) {
    const bytes good = make_record({3, 2, 1, 2, 0, std::string(100, 'x'), "file", "func", 10});
    EXPECT_EQ(logdump::read_record(good, good.size()).what, logdump::status::ok);
    const bytes head(good.begin(), good.begin() + 60);
    const auto r = logdump::read_record(head, 100);
    EXPECT_EQ(r.what, logdump::status::too_long);
    EXPECT_EQ(r.problem, 54u);
    EXPECT_FALSE(r.more);
}

} // namespace
