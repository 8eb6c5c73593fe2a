// One call of the engine: per-thread state, the nesting guard, then parsing,
// numbering and output.
#include <cerrno>

#include "base/ztc/os/printf/direct.hpp"
#include "base/ztc/os/printf/framed.hpp"
#include "base/ztc/os/printf/internal.hpp"

using namespace ztc::printf_engine;

namespace {

// Keeps the thread's count of active calls right on every way out.
class ActiveCall {
  public:
    explicit ActiveCall(int32_t *count) : count_(count), depth_((*count)++) {}
    ~ActiveCall() { --*count_; }
    ActiveCall(const ActiveCall &) = delete;
    ActiveCall &operator=(const ActiveCall &) = delete;
    int depth() const { return depth_; }

  private:
    int32_t *count_;
    int depth_;
};

// One call; with a frame, -1 where the frame's text would not be literal.
[[gnu::always_inline]] inline int format_call(char *buf, size_t size, const Frame *frame,
                                              const char *fmt, va_list ap) {
    const int saved_errno = errno;
    if (buf == nullptr) size = 0;
    if (fmt == nullptr) return write_failure(buf, size, {CHECK_NULL_FORMAT, 0});

    ActiveCall call(thread_recursion_count());
    if (call.depth() >= MAX_RECURSIVE_CALLS) return write_failure(buf, size, {CHECK_RECURSION, 0});

    Arg *args = thread_arg_tables() + call.depth() * MAX_VARARG_COUNT;
    ParsedFormat parsed;
    const Arg *records;
    if (Failure f = parse_format_cached(fmt, args, call.depth(), parsed, records))
        return write_failure(buf, size, f);
    if (frame != nullptr && parsed.unfinished) return -1;

    MbsSlot &mbs = thread_mbs_slots()[call.depth()];
    mbs.fill = 0;
    const Frame &around = frame != nullptr ? *frame : Frame{};
    if (parsed.simple) return render_simple(buf, size, records, parsed, fmt, around, ap);
    return render_format(buf, size, fmt, records, parsed, around, mbs, saved_errno, ap);
}

// Formats found better served by the general path, by address: a direct
// attempt that gives up costs the copy of the arguments and the reading so far.
// A different format at a remembered address only takes the slower way.
constexpr size_t GENERAL_FIRST_SLOTS = 16;
constinit thread_local const char *general_first_formats[GENERAL_FIRST_SLOTS]{};

const char *&general_first_slot(const char *fmt) {
    const auto address = reinterpret_cast<uintptr_t>(fmt);
    return general_first_formats[(address ^ (address >> 6)) % GENERAL_FIRST_SLOTS];
}

// Whether the direct output is tried first for this call: a call nested past
// the limit gets the general path's failure, and a format remembered as
// better served by the general path goes there at once.
bool try_direct(const char *fmt) {
    const int32_t *active = thread_values.recursion_count;
    return fmt != nullptr && active != nullptr && *active < MAX_RECURSIVE_CALLS &&
           general_first_slot(fmt) != fmt;
}

// The direct output; -1 where the general path must serve the format.
template <bool single = false>
[[gnu::always_inline]] inline int print_direct(char *buf, size_t size, const char *fmt,
                                               const Frame *frame, va_list ap) {
    bool general_first = false;
    const int result = direct::print<single>(buf, size, fmt, frame, ap, general_first);
    if (general_first) general_first_slot(fmt) = fmt;
    return result;
}

// The direct output where it serves the format, else the general path from the
// start on a copy of the arguments taken before. The direct output reads the
// caller's list itself: the copy's loads may wait on the caller's fresh
// stores to it, and nothing on the direct path waits for the copy.
int direct_or_general(char *buf, size_t size, const Frame *frame, const char *fmt, va_list ap) {
    if (buf == nullptr) size = 0;
    if (!try_direct(fmt)) return format_call(buf, size, frame, fmt, ap);
    va_list saved;
    va_copy(saved, ap);
    int result;
    if (frame == nullptr) {
        result = print_direct(buf, size, fmt, nullptr, ap);
        if (result < 0) result = format_call(buf, size, frame, fmt, saved);
    } else {
        // A framed caller may go on with its list after a refusal: the general
        // path refuses before reading it, so the direct output reads the copy.
        result = print_direct(buf, size, fmt, frame, saved);
        if (result < 0) result = format_call(buf, size, frame, fmt, ap);
    }
    va_end(saved);
    return result;
}

} // namespace

// Out of line: the entry points' frames stay those of the direct output.
[[gnu::noinline]] int ztc::printf_engine::vsprintf_general(char *buf, size_t size, const char *fmt,
                                                           va_list ap) {
    return format_call(buf, size, nullptr, fmt, ap);
}

// No copy of the list here: the general path starts the list anew. Aligned to
// a cache line: the direct output's short paths then start at the same place
// in a fetch block whatever the code before it (a plain "%d" took a tenth
// longer where it did not).
extern "C" [[gnu::aligned(64)]] int zt_snprintf(char *buf, size_t size, const char *fmt, ...) {
    if (buf == nullptr) size = 0;
    va_list ap;
    int result = -1;
    if (try_direct(fmt)) {
        va_start(ap, fmt);
        result = print_direct<true>(buf, size, fmt, nullptr, ap);
        va_end(ap);
    }
    if (result < 0) [[unlikely]] {
        va_start(ap, fmt);
        result = vsprintf_general(buf, size, fmt, ap);
        va_end(ap);
    }
    return result;
}

extern "C" int zt_vsprintf(char *buf, size_t size, const char *fmt, va_list ap) {
    return direct_or_general(buf, size, nullptr, fmt, ap);
}

int ztc::printf_engine::vsprintf_framed(char *buf, size_t size, std::string_view before,
                                        const char *fmt, std::string_view after, va_list ap) {
    const Frame frame{before, after};
    return direct_or_general(buf, size, &frame, fmt, ap);
}
