// Calls a formatter into a buffer fenced by guard bytes and reports what it left behind.
#ifndef TESTS_BASE_ZTC_GUARDED_BUFFER_HPP
#define TESTS_BASE_ZTC_GUARDED_BUFFER_HPP

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ztc/os/printf.h"

namespace ztc_test {

struct guarded_output {
    std::string text; // up to the first NUL inside the buffer
    int result;       // the formatter's return value
    bool fenced;      // no byte outside [0, size) changed
    bool terminated;  // a NUL stands within [0, size); vacuous for size 0
    bool untouched;   // for size 0: nothing at all was written
};

inline guarded_output call_guarded(zt_printf_cb cb, const void *value, size_t size) {
    constexpr size_t guard = 32;
    constexpr unsigned char fill = 0xA5;
    std::vector<unsigned char> mem(size + 2 * guard, fill);
    char *buf = reinterpret_cast<char *>(mem.data() + guard);
    guarded_output out{};
    out.result = cb(value, buf, size);
    out.fenced = true;
    for (size_t i = 0; i < guard; ++i)
        if (mem[i] != fill || mem[guard + size + i] != fill) out.fenced = false;
    const void *nul = size ? memchr(buf, '\0', size) : nullptr;
    out.terminated = size == 0 || nul != nullptr;
    out.untouched = true;
    for (size_t i = 0; i < size; ++i)
        if (mem[guard + i] != fill) out.untouched = false;
    if (nul) out.text.assign(buf, static_cast<size_t>(static_cast<const char *>(nul) - buf));
    return out;
}

// The full text, formatted into a roomy buffer.
inline std::string full_text(zt_printf_cb cb, const void *value) {
    return call_guarded(cb, value, 512).text;
}

// The text of "%p{name}" through the formatting engine.
inline std::string by_name(const std::string &name, const void *value) {
    char buf[512];
    zt_snprintf(buf, sizeof buf, ("%p{" + name + "}").c_str(), value);
    return buf;
}

// The same text by direct call and by name.
inline void expect_text(const char *name, zt_printf_cb cb, const void *value,
                        const std::string &want) {
    EXPECT_EQ(full_text(cb, value), want) << name << " by direct call";
    EXPECT_EQ(by_name(name, value), want) << "%p{" << name << "}";
}

// Every size from 0 to the full length plus one: the text is the cut prefix, terminated,
// and nothing outside the buffer changes.
inline ::testing::AssertionResult cuts_cleanly(zt_printf_cb cb, const void *value) {
    const std::string full = full_text(cb, value);
    for (size_t size = 0; size <= full.size() + 1; ++size) {
        const guarded_output out = call_guarded(cb, value, size);
        if (!out.fenced) return ::testing::AssertionFailure() << "wrote outside size " << size;
        if (!out.terminated) return ::testing::AssertionFailure() << "no NUL in size " << size;
        if (size == 0 && !out.untouched)
            return ::testing::AssertionFailure() << "wrote into a size-0 buffer";
        const std::string want = size ? full.substr(0, size - 1) : "";
        if (out.text != want)
            return ::testing::AssertionFailure()
                   << "size " << size << " gave \"" << out.text << "\", want \"" << want << "\"";
    }
    return ::testing::AssertionSuccess();
}

} // namespace ztc_test

#endif
