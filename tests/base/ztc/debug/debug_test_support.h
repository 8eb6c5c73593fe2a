// Test outputs, a fixed clock and scoped settings for the debug and thread tests.
#ifndef TESTS_DEBUG_TEST_SUPPORT_H
#define TESTS_DEBUG_TEST_SUPPORT_H

#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "base/ztc/debug/debug.h"

namespace dtest {

constexpr const char *kStderrFormat = "%02d:%16s %11s%1d    %.0s%32s: %4d:  %s%s\n";
using TimeFn = void (*)(struct timeval *);

// Gives a global a value for the scope's life.
template <class T>
class Set {
  public:
    Set(T &var, T value) : var_(var), saved_(var) { var_ = value; }
    ~Set() { var_ = saved_; }
    Set(const Set &) = delete;
    Set &operator=(const Set &) = delete;

  private:
    T &var_;
    T saved_;
};

// Collects what an output writes, taking at most `chunk` bytes per call (0: all) and
// refusing the call numbered `refuse_call`.
struct Sink {
    explicit Sink(size_t chunk = 0, int refuse_call = 0) : chunk(chunk), refuse_call(refuse_call) {}
    std::string bytes;
    size_t chunk;
    int calls = 0, refuse_call;
    static int write(intptr_t user, const void *b, size_t n) {
        auto *s = reinterpret_cast<Sink *>(user);
        if (++s->calls == s->refuse_call) return 0;
        size_t k = s->chunk ? std::min(n, s->chunk) : n;
        s->bytes.append(static_cast<const char *>(b), k);
        return static_cast<int>(k);
    }
};

// A text output in the standard-error format, or a binary one, writing into a sink.
inline debug_output_t make_output(int type, int id, Sink *sink, int level = 3) {
    debug_output_t o{};
    o.id = id;
    o.type = type;
    std::fill(std::begin(o.levels), std::end(o.levels), level);
    auto user = reinterpret_cast<intptr_t>(sink);
    if (type == DEBUG_OUTPUT_TEXT) {
        o.u.text = {{}, PTHREAD_MUTEX_INITIALIZER, Sink::write, user};
        strcpy(o.u.text.format, kStderrFormat);
    } else if (type == DEBUG_OUTPUT_BINARY) {
        o.u.binary = {PTHREAD_MUTEX_INITIALIZER, Sink::write, user};
    }
    return o;
}

// Makes the outputs, in this order, the output list for the scope's life.
struct ListScope : Set<debug_output_t *> {
    ListScope(std::initializer_list<debug_output_t *> outputs)
        : Set(debug_output_list, link(outputs.begin(), outputs.end())) {}
    static debug_output_t *link(debug_output_t *const *first, debug_output_t *const *last) {
        return first == last ? nullptr : ((*first)->next = link(first + 1, last), *first);
    }
};

// A clock standing at 5 s 42 us that counts its readings.
inline int time_calls = 0;
inline void fixed_time(struct timeval *tv) {
    ++time_calls;
    *tv = {5, 42};
}
struct FixedTime : Set<TimeFn> {
    FixedTime() : Set(debug_get_time_function, fixed_time) { time_calls = 0; }
};

} // namespace dtest

#endif
