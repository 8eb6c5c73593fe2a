// Generated standard formats must give the C library's bytes and results at
// every interesting buffer size.
#include <bit>
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/ztc/os/printf.h"
#include "base/ztc/os/printf/internal.hpp"

#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

namespace {

enum class Kind { integer, integer64, real, long_real, pointer };
struct Value {
    Kind kind;
    long long integer = 0;
    long double real = 0;
    const void *pointer = nullptr;
};

constexpr size_t MAX_VALUES = 4;

// The engine without its direct output, which most of these formats take.
int general_snprintf(char *buf, size_t size, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int result = ztc::printf_engine::vsprintf_general(buf, size, fmt, ap);
    va_end(ap);
    return result;
}

// Calls `fn` with the values as correctly typed variadic arguments.
template <class Fn, class... Ts>
void with_values(const std::vector<Value> &values, size_t i, Fn &&fn, Ts... typed) {
    if constexpr (sizeof...(Ts) < MAX_VALUES) {
        if (i < values.size()) {
            const Value &v = values[i];
            switch (v.kind) {
            case Kind::integer:
                return with_values(values, i + 1, fn, typed..., int(v.integer));
            case Kind::integer64:
                return with_values(values, i + 1, fn, typed..., v.integer);
            case Kind::real:
                return with_values(values, i + 1, fn, typed..., double(v.real));
            case Kind::long_real:
                return with_values(values, i + 1, fn, typed..., v.real);
            case Kind::pointer:
                return with_values(values, i + 1, fn, typed..., v.pointer);
            }
        }
    }
    fn(typed...);
}

class Generator {
  public:
    // A format of one to three conversions with literal text between them.
    std::string format(std::vector<Value> &values) {
        std::string fmt = literal();
        for (int n = 1 + pick(3); n > 0 && values.size() < MAX_VALUES; --n)
            fmt += conversion(values) + literal();
        return fmt;
    }

  private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    template <class T>
    T any_of(std::initializer_list<T> items) {
        return items.begin()[pick(int(items.size()))];
    }

    std::string literal() {
        std::string text;
        for (int n = pick(4); n > 0; --n)
            text += any_of({"a", " ", "%%", "-", "xyz", "\t", "$",
                            "a literal piece longer than any single conversion"});
        return text;
    }

    // A `*` takes a value too, so it is given only while one is left for the conversion.
    std::string star(std::vector<Value> &values) {
        if (values.size() + 2 > MAX_VALUES) return "";
        values.push_back({Kind::integer, pick(40) - 15});
        return "*";
    }

    std::string conversion(std::vector<Value> &values) {
        std::string spec = "%", flags = " #+-0";
        std::shuffle(flags.begin(), flags.end(), random_);
        spec += flags.substr(0, size_t(pick(6)) * size_t(pick(2)));
        if (int w = pick(4); w == 1)
            spec += std::to_string(1 + pick(30));
        else if (w == 2)
            spec += star(values);
        if (int p = pick(5); p == 1)
            spec += ".";
        else if (p == 2)
            spec += "." + std::to_string(pick(20));
        else if (p == 3)
            spec += "." + star(values);

        const char letter = "diouxXeEfgGcsp"[pick(14)];
        Value value{Kind::integer};
        if (strchr("diouxX", letter) != nullptr) {
            const char *length = letter == 'd' || letter == 'i'
                                     ? any_of({"", "h", "hh", "l", "ll", "j", "z", "t"})
                                     : any_of({"", "h", "hh", "l", "ll", "j", "z"});
            spec += length;
            const bool wide = length[0] != '\0' && strchr("ljzt", length[0]) != nullptr;
            value.kind = wide ? Kind::integer64 : Kind::integer;
            // Now and then the ends of each range, and values that h and hh cut.
            if (pick(4) == 0)
                value.integer = wide ? any_of<long long>({0, -1, LLONG_MIN, LLONG_MAX, 1LL << 32})
                                     : any_of<long long>({0, -1, INT_MIN, INT_MAX, 255, 256,
                                                          0x1ff80, -129, 65535});
            else if (wide)
                value.integer =
                    (long long)std::uniform_int_distribution<unsigned long long>()(random_) >>
                    pick(64);
            else
                value.integer =
                    std::uniform_int_distribution<int>(INT32_MIN, INT32_MAX)(random_) >> pick(32);
        } else if (strchr("eEfgG", letter) != nullptr) {
            const bool is_long = pick(3) == 0;
            spec += is_long ? "L" : "";
            value.kind = is_long ? Kind::long_real : Kind::real;
            // Ties that round to even, carries through every digit, the ends of the
            // range, subnormals and the values that are no numbers.
            const long double tenths = 0.1L * pick(1000),
                              any = std::uniform_real_distribution<double>(-1e6, 1e6)(random_),
                              bits = std::bit_cast<double>(uint64_t(random_()) << 32 | random_());
            value.real = any_of<long double>(
                {0.0L,      -0.0L,        1.5L,      -2.25e-7L, 123456.789L, 1e300L,       INFINITY,
                 -INFINITY, NAN,          -NAN,      tenths,    0.5L,        2.5L,         0.125L,
                 -0.375L,   9.9999996L,   999999.5L, 0.05L,     1e-5L,       1e15L + 0.5L, DBL_MAX,
                 DBL_MIN,   DBL_TRUE_MIN, -1e-320L,  any,       bits,        1e23L});
            if (is_long && pick(2) == 0)
                value.real = any_of<long double>({LDBL_MAX, LDBL_MIN, 0.1L});
        } else if (letter == 'c') {
            value.integer = pick(8) == 0 ? any_of<long long>({0, 200, 0x141, -1}) : 32 + pick(95);
        } else {
            value.kind = Kind::pointer;
            value.pointer =
                letter == 's'
                    ? any_of<const void *>({"", "text", "a longer piece of text", nullptr})
                    : any_of<const void *>({nullptr, (void *)0x1, (void *)0x7fff1234abcd});
        }
        values.push_back(value);
        return spec + letter;
    }

    std::mt19937 random_{20240611};
};

TEST(PrintfDifferential, StandardFormatsMatchTheCLibrary) {
    Generator generator;
    for (int n = 0; n < 20000; ++n) {
        std::vector<Value> values;
        const std::string fmt = generator.format(values);
        int length = -1;
        with_values(values, 0,
                    [&](auto... a) { length = snprintf(nullptr, 0, fmt.c_str(), a...); });
        ASSERT_GE(length, 0) << fmt;
        const size_t len = size_t(length);
        for (size_t size : {size_t{0}, size_t{1}, len / 2, len, len + 1, len + 40}) {
            // Both buffers fenced by guard bytes; a null buffer at size 0.
            std::string theirs(size + 8, '#'), ours(theirs), general(theirs);
            int their_result = 0, our_result = 0, general_result = 0;
            with_values(values, 0, [&](auto... a) {
                their_result =
                    snprintf(size ? theirs.data() + 4 : nullptr, size, fmt.c_str(), a...);
                our_result = zt_snprintf(size ? ours.data() + 4 : nullptr, size, fmt.c_str(), a...);
                general_result =
                    general_snprintf(size ? general.data() + 4 : nullptr, size, fmt.c_str(), a...);
            });
            ASSERT_EQ(our_result, their_result) << '"' << fmt << "\" size " << size;
            ASSERT_EQ(ours, theirs) << '"' << fmt << "\" size " << size;
            ASSERT_EQ(general_result, their_result) << '"' << fmt << "\" size " << size;
            ASSERT_EQ(general, theirs) << '"' << fmt << "\" size " << size;
        }
    }
}

} // namespace
