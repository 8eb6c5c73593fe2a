// Reads binary debug records back, checking every framing rule on the way.
#ifndef TESTS_BINARY_RECORD_DECODER_H
#define TESTS_BINARY_RECORD_DECODER_H

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/ztc/debug/debug.h"

namespace dtest {

struct Record {
    int32_t thread_num, level, module, line;
    int64_t sec;
    uint32_t usec;
    std::string file, function, text;
    bool operator==(const Record &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Record &r) {
    return os << r.thread_num << ' ' << r.level << ' ' << r.module << ' ' << r.line << ' ' << r.sec
              << '.' << r.usec << " [" << r.file << "] [" << r.function << "] [" << r.text << ']';
}

class RecordReader {
  public:
    explicit RecordReader(const std::string &bytes) : b_(bytes) {}
    bool at_end() const { return pos_ == b_.size(); }

    // One record, or nothing when the bytes break the layout.
    std::optional<Record> next() {
        Record r{};
        uint64_t magic, version, thread, level, sec, usec, module, line;
        if (!be(4, magic) || magic != DEBUG_BINARY_MAGIC) return {};
        if (!be(4, version) || version != DEBUG_BINARY_VERSION) return {};
        if (!be(4, thread) || !be(4, level) || !be(8, sec) || !be(4, usec) || !be(4, module))
            return {};
        if (!text(r.file) || !text(r.function) || !be(4, line) || !text(r.text)) return {};
        r.thread_num = static_cast<int32_t>(thread);
        r.level = static_cast<int32_t>(level);
        r.sec = static_cast<int64_t>(sec);
        r.usec = static_cast<uint32_t>(usec);
        r.module = static_cast<int32_t>(module);
        r.line = static_cast<int32_t>(line);
        return r;
    }

  private:
    bool be(size_t n, uint64_t &v) {
        if (b_.size() - pos_ < n) return false;
        v = 0;
        for (size_t i = 0; i < n; ++i) v = v << 8 | static_cast<uint8_t>(b_[pos_++]);
        return true;
    }
    // Length counts the NUL, which must end the text and be its only NUL.
    bool text(std::string &out) {
        uint64_t n;
        if (!be(4, n) || n == 0 || b_.size() - pos_ < n) return false;
        out.assign(b_, pos_, n - 1);
        bool ok = b_[pos_ + n - 1] == '\0' && out.find('\0') == std::string::npos;
        pos_ += n;
        return ok;
    }

    const std::string &b_;
    size_t pos_ = 0;
};

} // namespace dtest

#endif
