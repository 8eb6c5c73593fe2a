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
    bool fenced;      // no byte outside [0, size) changed; for size 0, nothing was written
    bool terminated;  // a NUL stands within [0, size); vacuous for size 0
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

// What a formatter returns for a text cut short (sizes from 1 up).
enum class result_rule { full_length, length_in_buffer, unchecked };

// At one size: the text is the cut prefix of full, terminated, nothing outside the buffer
// changes, and the result follows the rule.
inline ::testing::AssertionResult cuts_at(zt_printf_cb cb, const void *value, size_t size,
                                          const std::string &full, result_rule rule) {
    const guarded_output out = call_guarded(cb, value, size);
    const std::string want = size ? full.substr(0, size - 1) : "";
    const size_t length = rule == result_rule::full_length ? full.size() : want.size();
    const bool result_ok =
        rule == result_rule::unchecked || size == 0 || out.result == static_cast<int>(length);
    if (out.fenced && out.terminated && out.text == want && result_ok)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "size " << size << " gave \"" << out.text << "\" returning " << out.result
           << (out.fenced ? "" : ", wrote outside") << (out.terminated ? "" : ", no NUL")
           << "; want \"" << want << "\"";
}

// Every size from 0 to the full length plus one.
inline ::testing::AssertionResult cuts_cleanly(zt_printf_cb cb, const void *value,
                                               result_rule rule = result_rule::full_length) {
    const std::string full = full_text(cb, value);
    for (size_t size = 0; size <= full.size() + 1; ++size)
        if (auto cut = cuts_at(cb, value, size, full, rule); !cut) return cut;
    return ::testing::AssertionSuccess();
}

// The text by direct call and by name (unless name is null), and cut cleanly at every size.
inline void expect_text(const char *name, zt_printf_cb cb, const void *value,
                        const std::string &want, result_rule rule = result_rule::full_length) {
    EXPECT_EQ(full_text(cb, value), want) << (name ? name : "") << " by direct call";
    if (name) {
        EXPECT_EQ(by_name(name, value), want) << "%p{" << name << "}";
    }
    EXPECT_TRUE(cuts_cleanly(cb, value, rule)) << (name ? name : "");
}

} // namespace ztc_test

#endif
