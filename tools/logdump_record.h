// Reading binary debug records: big-endian fields, NUL-terminated texts with
// their lengths in front.
#ifndef VANTLE_TOOLS_LOGDUMP_RECORD_H
#define VANTLE_TOOLS_LOGDUMP_RECORD_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace logdump {

inline constexpr uint8_t record_magic[4] = {0xAB, 0xAD, 0xEB, 0x39};
inline constexpr uint32_t record_version = 2;
inline constexpr size_t record_fixed_size = 48;
// The writers make records of at most 1024 bytes; a streaming reader waits for no
// record longer than this, so that a damaged length cannot make it hoard its input.
inline constexpr size_t max_record_size = size_t{1} << 20;

struct record {
    int32_t thread;
    int32_t level;
    int64_t seconds;
    uint32_t microseconds;
    int32_t module;
    std::string_view file;
    std::string_view function;
    int32_t line;
    std::string_view text; // thread name directly followed by the message
};

enum class status { ok, end, bad_magic, bad_version, bad_length, truncated, too_long };

struct read_result {
    status what;
    size_t size;    // bytes of the record (ok only)
    size_t problem; // offset of the fault from the start of the input given
    bool more;      // the fault is only that the input ends early: more bytes may mend it
    record rec;
};

// Reads the record at the start of bytes; "end" when bytes is empty. A record that
// would be longer than limit bytes is too_long as soon as its lengths show it.
read_result read_record(std::span<const uint8_t> bytes, size_t limit = SIZE_MAX);

// Offset of the next magic at or after from, or bytes.size() when there is none.
size_t find_magic(std::span<const uint8_t> bytes, size_t from);

const char *describe(status s);

} // namespace logdump

#endif
