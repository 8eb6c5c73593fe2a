#include "tools/logdump_record.h"

#include <algorithm>
#include <cstring>

namespace logdump {
namespace {

// A cursor that never reads past the end; the first short read is remembered.
struct reader {
    std::span<const uint8_t> bytes;
    size_t pos = 0;
    bool short_read = false;

    uint64_t number(size_t width) {
        if (bytes.size() - pos < width) {
            short_read = true;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i) v = (v << 8) | bytes[pos + i];
        pos += width;
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(static_cast<uint32_t>(number(4))); }
};

} // namespace

size_t find_magic(std::span<const uint8_t> bytes, size_t from) {
    if (from >= bytes.size()) return bytes.size();
    auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                          std::begin(record_magic), std::end(record_magic));
    return static_cast<size_t>(it - bytes.begin());
}

read_result read_record(std::span<const uint8_t> bytes, size_t limit) {
    read_result r{};
    if (bytes.empty()) {
        r.what = status::end;
        return r;
    }
    const size_t head = std::min(bytes.size(), sizeof record_magic);
    if (std::memcmp(bytes.data(), record_magic, head) != 0) {
        r.what = status::bad_magic;
        return r;
    }
    if (head < sizeof record_magic) {
        r.what = status::truncated;
        r.problem = bytes.size();
        r.more = true;
        return r;
    }
    reader in{bytes};
    auto fail = [&](status s, size_t at, bool more = false) {
        r.what = s;
        r.problem = at;
        r.more = more;
    };
    in.number(4);
    const size_t version_at = in.pos;
    const auto version = static_cast<uint32_t>(in.number(4));
    if (!in.short_read && version != record_version) {
        fail(status::bad_version, version_at);
        return r;
    }
    r.rec.thread = in.i32();
    r.rec.level = in.i32();
    r.rec.seconds = static_cast<int64_t>(in.number(8));
    r.rec.microseconds = static_cast<uint32_t>(in.number(4));
    r.rec.module = in.i32();
    if (in.short_read) {
        fail(status::truncated, bytes.size(), true);
        return r;
    }

    // A text field: its length (NUL included), then the text and its NUL.
    auto text = [&](std::string_view &out) {
        const size_t at = in.pos;
        const uint64_t n = in.number(4);
        if (in.short_read) {
            fail(status::truncated, bytes.size(), true);
            return false;
        }
        const auto *p = reinterpret_cast<const char *>(bytes.data() + in.pos);
        if (n > limit || in.pos + n > limit) {
            fail(status::too_long, at);
            return false;
        }
        if (n > bytes.size() - in.pos) {
            fail(status::bad_length, at, true);
            return false;
        }
        if (n == 0 || p[n - 1] != '\0') {
            fail(status::bad_length, at);
            return false;
        }
        out = std::string_view(p, n - 1);
        in.pos += n;
        return true;
    };
    if (!text(r.rec.file) || !text(r.rec.function)) return r;
    r.rec.line = in.i32();
    if (in.short_read) {
        fail(status::truncated, bytes.size(), true);
        return r;
    }
    if (!text(r.rec.text)) return r;
    r.what = status::ok;
    r.size = in.pos;
    return r;
}

const char *describe(status s) {
    switch (s) {
    case status::ok:
        return "ok";
    case status::end:
        return "end of input";
    case status::bad_magic:
        return "bad magic";
    case status::bad_version:
        return "unknown format version";
    case status::bad_length:
        return "length runs past the end of the input or misses its NUL";
    case status::truncated:
        return "input ends inside a record";
    case status::too_long:
        return "record longer than the 1 MiB this tool reads";
    }
    return "unknown";
}

} // namespace logdump
