#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "tools/logdump_record.h"

namespace {

using bytes = std::vector<uint8_t>;

void put(bytes &b, uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put_text(bytes &b, const std::string &s) {
    put(b, s.size() + 1, 4);
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}

// A record built field by field, independently of the library's encoder.
bytes make_record(int32_t thread, int32_t level, int64_t sec, uint32_t usec, int32_t module,
                  const std::string &file, const std::string &function, int32_t line,
                  const std::string &text) {
    bytes b = {0xAB, 0xAD, 0xEB, 0x39, 0, 0, 0, 2};
    put(b, static_cast<uint32_t>(thread), 4);
    put(b, static_cast<uint32_t>(level), 4);
    put(b, static_cast<uint64_t>(sec), 8);
    put(b, usec, 4);
    put(b, static_cast<uint32_t>(module), 4);
    put_text(b, file);
    put_text(b, function);
    put(b, static_cast<uint32_t>(line), 4);
    put_text(b, text);
    return b;
}

TEST(LogdumpRecord, ReadsEveryField) {
    const bytes example = make_record(-1, 1, 5, 42, 49, "a", "f", 227, "m");
    auto r = logdump::read_record(example);
    ASSERT_EQ(r.what, logdump::status::ok);
    EXPECT_EQ(r.size, 54u);
    // The texts are views into the bytes, which must outlive the record.
    const bytes wide = make_record(98, 4, 0x1122334455667788, 999999, 63, "base/x", "fn", -3, "t");
    r = logdump::read_record(wide);
    ASSERT_EQ(r.what, logdump::status::ok);
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
};

TEST(LogdumpRecord, ReportsDamageWithItsOffset) {
    const bytes good = make_record(3, 2, 1, 2, 0, "file", "func", 10, "hello");
    const damage_case cases[] = {
        {"bad magic", 0, 1, 0x00, logdump::status::bad_magic, 0},
        {"unknown version", 0, 7, 3, logdump::status::bad_version, 4},
        {"tail inside the fixed part", 20, SIZE_MAX, 0, logdump::status::truncated, 20},
        {"tail inside the magic", 3, SIZE_MAX, 0, logdump::status::truncated, 3},
        {"file length past the end", 0, 32, 0x7F, logdump::status::bad_length, 32},
        {"zero file length", 0, 35, 0, logdump::status::bad_length, 32},
        {"text without its NUL", 0, good.size() - 1, 'x', logdump::status::bad_length, 54},
        {"tail inside the text", good.size() - 2, SIZE_MAX, 0, logdump::status::bad_length, 54},
        {"tail inside the line", 52, SIZE_MAX, 0, logdump::status::truncated, 52},
    };
    for (const auto &c : cases) {
        bytes b(good.begin(), good.begin() + static_cast<long>(c.keep ? c.keep : good.size()));
        if (c.poke_at != SIZE_MAX) b[c.poke_at] = c.value;
        const auto r = logdump::read_record(b);
        EXPECT_EQ(r.what, c.expect) << c.what;
        EXPECT_EQ(r.problem, c.problem) << c.what;
    }
}

} // namespace
