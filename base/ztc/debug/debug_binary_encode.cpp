// The binary debug record: big-endian numbers and NUL-terminated texts with their lengths.
#include <string.h>

#include <string_view>

#include "base/ztc/debug/debug.h"

namespace {
// Appends fields in order; the first field that does not fit fails the whole record.
class RecordWriter {
  public:
    RecordWriter(uint8_t *buf, size_t capacity) : buf_(buf), capacity_(capacity) {}

    bool put_u32(uint32_t v) { return put_be(v, 4); }
    bool put_u64(uint64_t v) { return put_be(v, 8); }
    // Length (NUL included), then the text and its NUL.
    bool put_text(const char *text) {
        std::string_view s = text != nullptr ? std::string_view(text) : std::string_view();
        if (s.size() >= UINT32_MAX) return false;
        uint32_t n = static_cast<uint32_t>(s.size() + 1);
        if (!put_u32(n) || !room(n)) return false;
        if (!s.empty()) memcpy(buf_ + used_, s.data(), s.size());
        buf_[used_ + s.size()] = 0;
        used_ += n;
        return true;
    }
    size_t used() const { return used_; }

  private:
    bool room(size_t n) const { return buf_ != nullptr && n <= capacity_ - used_; }
    bool put_be(uint64_t v, size_t bytes) {
        if (!room(bytes)) return false;
        for (size_t i = 0; i < bytes; ++i)
            buf_[used_ + i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
        used_ += bytes;
        return true;
    }

    uint8_t *buf_;
    size_t capacity_;
    size_t used_ = 0;
};
} // namespace

extern "C" error_code_t debug_encode_binary(uint8_t *record, size_t capacity, size_t *length,
                                            int thread_num, int level, const struct timeval *tv,
                                            int module, const char *file, const char *function,
                                            int line, const char *text) {
    if (length != nullptr) *length = 0;
    if (tv == nullptr) return ERROR_INVALID_ARGUMENT;
    RecordWriter w(record, capacity);
    bool ok = w.put_u32(DEBUG_BINARY_MAGIC) && w.put_u32(DEBUG_BINARY_VERSION) &&
              w.put_u32(static_cast<uint32_t>(thread_num)) &&
              w.put_u32(static_cast<uint32_t>(level)) &&
              w.put_u64(static_cast<uint64_t>(tv->tv_sec)) &&
              w.put_u32(static_cast<uint32_t>(tv->tv_usec)) &&
              w.put_u32(static_cast<uint32_t>(module)) && w.put_text(file) &&
              w.put_text(function) && w.put_u32(static_cast<uint32_t>(line)) && w.put_text(text);
    if (!ok) return ERROR_OUT_OF_MEMORY;
    if (length != nullptr) *length = w.used();
    return ERROR_SUCCESS;
}
