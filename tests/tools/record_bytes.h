// Binary debug records built field by field, independently of the library's encoder.
#ifndef VANTLE_TESTS_TOOLS_RECORD_BYTES_H
#define VANTLE_TESTS_TOOLS_RECORD_BYTES_H

#include <cstdint>
#include <string>

namespace record_bytes {

struct fields {
    int32_t thread = -1;
    int32_t level = 1;
    int64_t seconds = 5;
    uint32_t microseconds = 42;
    int32_t module = 49;
    std::string text = "m"; // before the file, to be named in a short initializer
    std::string file = "a";
    std::string function = "f";
    int32_t line = 227;
};

// Big-endian numbers; texts with their lengths (NUL included) in front.
inline std::string make(const fields &f) {
    std::string b = "\xAB\xAD\xEB\x39";
    auto put = [&b](uint64_t v, int width) {
        for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<char>(v >> (8 * i)));
    };
    auto put_text = [&](const std::string &s) {
        put(s.size() + 1, 4);
        b += s + '\0';
    };
    put(2, 4); // the version
    put(static_cast<uint32_t>(f.thread), 4);
    put(static_cast<uint32_t>(f.level), 4);
    put(static_cast<uint64_t>(f.seconds), 8);
    put(f.microseconds, 4);
    put(static_cast<uint32_t>(f.module), 4);
    put_text(f.file);
    put_text(f.function);
    put(static_cast<uint32_t>(f.line), 4);
    put_text(f.text);
    return b;
}

} // namespace record_bytes

#endif
