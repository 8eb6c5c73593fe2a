// The binary-record reader on arbitrary bytes, walked as ztc-logdump --resync does.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tools/logdump_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    size_t pos = 0;
    while (pos < size) {
        const auto r = logdump::read_record(bytes.subspan(pos));
        if (r.what == logdump::status::ok) {
            if (r.size < logdump::record_fixed_size || r.size > size - pos) std::abort();
            const auto *lo = reinterpret_cast<const char *>(data + pos);
            for (auto text : {r.rec.file, r.rec.function, r.rec.text})
                if (text.data() < lo || text.data() + text.size() >= lo + r.size) std::abort();
            pos += r.size;
        } else {
            if (r.what == logdump::status::end || r.problem > size - pos) std::abort();
            const size_t next = logdump::find_magic(bytes, pos + 1);
            if (next <= pos) std::abort();
            pos = next;
        }
    }
    return 0;
}
