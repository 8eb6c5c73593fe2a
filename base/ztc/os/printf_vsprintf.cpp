// One call of the engine: per-thread state, the nesting guard, then parsing,
// numbering and output.
#include <cerrno>

#include "base/ztc/os/printf_framed.h"
#include "base/ztc/os/printf_internal.h"

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

} // namespace

extern "C" int zt_vsprintf(char *buf, size_t size, const char *fmt, va_list ap) {
    return format_call(buf, size, nullptr, fmt, ap);
}

int ztc::printf_engine::vsprintf_framed(char *buf, size_t size, std::string_view before,
                                        const char *fmt, std::string_view after, va_list ap) {
    if (before.find('%') != std::string_view::npos || after.find('%') != std::string_view::npos)
        return -1;
    const Frame frame{before, after};
    return format_call(buf, size, &frame, fmt, ap);
}
