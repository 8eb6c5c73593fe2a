// Reads binary debug records back, checking every framing rule on the way.
#ifndef TESTS_BINARY_RECORD_DECODER_H
#define TESTS_BINARY_RECORD_DECODER_H

#include <optional>
#include <ostream>
#include <string>

#include "base/ztc/debug/debug.h"

namespace dtest {

struct Record {
    int32_t thread_num, level, module, line;
    int64_t sec;
    uint32_t usec;
    std::string file, function, text;
    bool operator==(const Record &) const = default;
    friend void PrintTo(const Record &r, std::ostream *os) {
        *os << r.thread_num << ' ' << r.level << ' ' << r.module << ' ' << r.line << ' ' << r.sec
            << '.' << r.usec << " [" << r.file << "] [" << r.function << "] [" << r.text << ']';
    }
};

class RecordReader {
  public:
    explicit RecordReader(const std::string &bytes) : b_(bytes) {}
    bool at_end() const { return pos_ == b_.size(); }

    // One record, or nothing when the bytes break the layout.
    std::optional<Record> next() {
        Record r{};
        uint32_t magic = 0, version = 0;
        bool ok = be(magic) && magic == DEBUG_BINARY_MAGIC && be(version) &&
                  version == DEBUG_BINARY_VERSION && be(r.thread_num) && be(r.level) && be(r.sec) &&
                  be(r.usec) && be(r.module) && text(r.file) && text(r.function) && be(r.line) &&
                  text(r.text);
        return ok ? std::optional(r) : std::nullopt;
    }

  private:
    // A big-endian number as wide as the field it fills.
    template <class T>
    bool be(T &v) {
        if (b_.size() - pos_ < sizeof v) return false;
        uint64_t u = 0;
        for (size_t i = 0; i < sizeof v; ++i) u = u << 8 | static_cast<uint8_t>(b_[pos_++]);
        v = static_cast<T>(u);
        return true;
    }
    // Length counts the NUL, which must end the text and be its only NUL.
    bool text(std::string &out) {
        uint32_t n = 0;
        if (!be(n) || n == 0 || b_.size() - pos_ < n) return false;
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
