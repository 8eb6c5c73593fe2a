// Remembers, per thread and nesting depth, which format the depth's argument
// table holds parsed. A call with the same format text at the same address,
// while the table is untouched and no formatter was registered since, reuses
// the table instead of parsing again: its records point into the same bytes
// and every extension name resolves as before.
#include <cstring>

#include "base/ztc/os/printf_internal.h"

namespace ztc::printf_engine {
namespace {

// Longer formats are parsed on every call.
constexpr size_t CACHED_FORMAT_SIZE = 256;

struct CachedParse {
    const Arg *table;   // null: the table holds no remembered parse
    const char *format; // the address the records point into
    int registry_generation;
    ParsedFormat parsed;
    char text[CACHED_FORMAT_SIZE]; // NUL-terminated
};

// Static thread storage, not heap: it costs no allocation at any call.
thread_local CachedParse cache[MAX_RECURSIVE_CALLS];

} // namespace

Failure parse_format_cached(const char *fmt, Arg *args, int depth, ParsedFormat &parsed) {
    CachedParse &entry = cache[depth];
    // Read before parsing: a registration made meanwhile forces a new parse later.
    const int generation = registry_slots_in_use();
    // One comparison up to the first difference or NUL checks bytes and length.
    if (entry.table == args && entry.format == fmt && entry.registry_generation == generation &&
        strcmp(entry.text, fmt) == 0) {
        parsed = entry.parsed;
        return {};
    }

    entry.table = nullptr; // the table is about to change
    const Failure failure = parse_format(fmt, args, parsed);
    if (failure) return failure;
    const size_t length = static_cast<size_t>(parsed.format_end - fmt);
    if (length >= sizeof entry.text) return {};
    entry = {args, fmt, generation, parsed, {}};
    memcpy(entry.text, fmt, length + 1);
    return {};
}

void forget_parsed_formats() {
    for (CachedParse &entry : cache) entry.table = nullptr;
}

} // namespace ztc::printf_engine
