// Remembers the parses of the last few formats of a thread's outer calls,
// with copies of their records. A call with the same format text at the same
// address, while no formatter was registered since, prints from the copy
// instead of parsing again: the records point into the same bytes and every
// extension name resolves as before. A debug line alone formats three
// formats (time text, header, message), so one entry would not do.
#include <cstring>

#include "base/ztc/os/printf/internal.hpp"

namespace ztc::printf_engine {
namespace {

constexpr int CACHED_FORMATS = 4;

struct CachedParse {
    const char *format; // the address the records point into; null: free
    int registry_generation;
    ParsedFormat parsed;
    Arg records[CACHED_RECORDS];
    char text[CACHED_FORMAT_SIZE]; // NUL-terminated
};

struct ParseCache {
    CachedParse entries[CACHED_FORMATS];
    unsigned next_victim;
};

// Static thread storage, not heap: it costs no allocation at any call.
// Nested calls (from extension formatters) are rare and always parse.
constinit thread_local ParseCache cache{};

CachedParse &victim_for(const char *fmt) {
    // An entry for the same address holds bytes that are no longer there.
    for (CachedParse &entry : cache.entries) {
        if (entry.format == fmt) return entry;
    }
    return cache.entries[cache.next_victim++ % CACHED_FORMATS];
}

} // namespace

Failure parse_format_cached(const char *fmt, Arg *args, int depth, ParsedFormat &parsed,
                            const Arg *&records) {
    records = args;
    if (depth != 0) return parse_format(fmt, args, parsed);

    // Read before parsing: a registration made meanwhile forces a new parse later.
    const int generation = registry_slots_in_use();
    for (const CachedParse &entry : cache.entries) {
        // One comparison up to the first difference or NUL checks bytes and length.
        if (entry.format == fmt && entry.registry_generation == generation &&
            strcmp(entry.text, fmt) == 0) {
            parsed = entry.parsed;
            records = entry.records;
            return {};
        }
    }

    const Failure failure = parse_format(fmt, args, parsed);
    if (failure) return failure;
    const size_t length = static_cast<size_t>(parsed.format_end - fmt);
    if (length >= CACHED_FORMAT_SIZE || parsed.arg_count > CACHED_RECORDS) return {};
    CachedParse &entry = victim_for(fmt);
    entry.format = fmt;
    entry.registry_generation = generation;
    entry.parsed = parsed;
    memcpy(entry.records, args, sizeof(Arg) * static_cast<size_t>(parsed.arg_count));
    memcpy(entry.text, fmt, length + 1);
    return {};
}

} // namespace ztc::printf_engine
