// Test outputs, a fixed clock and a scoped output list for the debug tests.
#ifndef TESTS_DEBUG_TEST_SUPPORT_H
#define TESTS_DEBUG_TEST_SUPPORT_H

#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "base/ztc/debug/debug.h"

namespace dtest {

constexpr const char *kStderrFormat = "%02d:%16s %11s%1d    %.0s%32s: %4d:  %s%s\n";

// Collects what an output writes, taking at most `chunk` bytes per call (0: all) and
// refusing the call numbered `refuse_call`.
struct Sink {
    std::string bytes;
    size_t chunk = 0;
    int calls = 0;
    int refuse_call = 0;
    static int write(intptr_t user, const void *b, size_t n) {
        auto *s = reinterpret_cast<Sink *>(user);
        if (++s->calls == s->refuse_call) return 0;
        size_t k = s->chunk ? std::min(n, s->chunk) : n;
        s->bytes.append(static_cast<const char *>(b), k);
        return static_cast<int>(k);
    }
};

inline debug_output_t make_output(int type, int id, intptr_t user, int level = 3,
                                  const char *format = kStderrFormat) {
    debug_output_t o{};
    o.id = id;
    o.type = type;
    std::fill(std::begin(o.levels), std::end(o.levels), level);
    if (type == DEBUG_OUTPUT_TEXT) {
        strncpy(o.u.text.format, format, sizeof o.u.text.format - 1);
        pthread_mutex_init(&o.u.text.lock, nullptr);
        o.u.text.write = Sink::write;
        o.u.text.user = user;
    } else if (type == DEBUG_OUTPUT_BINARY) {
        pthread_mutex_init(&o.u.binary.lock, nullptr);
        o.u.binary.write = Sink::write;
        o.u.binary.user = user;
    }
    return o;
}

// Replaces the output list for the scope's life.
class ListScope {
  public:
    ListScope(std::initializer_list<debug_output_t *> outputs) : saved_(debug_output_list) {
        debug_output_t *head = nullptr;
        for (auto it = std::rbegin(outputs); it != std::rend(outputs); ++it) {
            (*it)->next = head;
            head = *it;
        }
        debug_output_list = head;
    }
    ~ListScope() { debug_output_list = saved_; }

  private:
    debug_output_t *saved_;
};

// A clock standing at 5 s 42 us that counts its readings.
inline int time_calls = 0;
inline void fixed_time(struct timeval *tv) {
    ++time_calls;
    tv->tv_sec = 5;
    tv->tv_usec = 42;
}
class FixedTime {
  public:
    FixedTime() : saved_(debug_get_time_function) {
        time_calls = 0;
        debug_get_time_function = fixed_time;
    }
    ~FixedTime() { debug_get_time_function = saved_; }

  private:
    void (*saved_)(struct timeval *);
};

} // namespace dtest

#endif
