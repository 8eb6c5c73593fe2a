// Shared pieces of the formatting engine: the conversion record, the per-call
// parse state, the registry slot and the failure (check) convention.
#ifndef ZTC_OS_PRINTF_INTERNAL_H
#define ZTC_OS_PRINTF_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/ztc/os/printf.h"

namespace ztc::printf_engine {

inline constexpr int MAX_CONVERSION_SPEC_LEN = 16;
inline constexpr int MAX_VARARG_COUNT = 128;
inline constexpr int MAX_RECURSIVE_CALLS = 2;
inline constexpr int MAX_EXTENSION_NAME_LEN = 19;
inline constexpr int EXTENSION_SCRATCH_SIZE = 256;
inline constexpr int ERRNO_TEXT_SIZE = 256;
inline constexpr int MBSBUFFER_TEXT_SIZE = 2048;
inline constexpr int REGISTRY_SLOTS = 32;

// One registry slot; an empty name marks a free slot.
struct RegistrySlot {
    char name[MAX_EXTENSION_NAME_LEN + 1];
    zt_printf_cb formatter;
};

// First occupied slot whose name equals `name`, or null. Safe from any thread.
const RegistrySlot *registry_find(std::string_view name);
// Number of occupied slots; it grows with every registration and never shrinks.
int registry_slots_in_use();

// One conversion specification, or one `*` argument of it.
struct Arg {
    char cs[MAX_CONVERSION_SPEC_LEN];
    int32_t cs_len;
    const char *fmt_start;
    const char *fmt_end;
    int32_t vararg_number;
    int32_t len;
    int32_t type;
    const RegistrySlot *ext;
};

// A failed check: its number and the one value its text may carry.
struct Failure {
    int check = 0;
    long long value = 0;
    explicit operator bool() const { return check != 0; }
};

// Check numbers. The texts live with the failure writer.
enum Check : int {
    CHECK_NONE = 0,
    CHECK_NULL_FORMAT = 219,
    CHECK_RECURSION = 234,
    CHECK_TABLE_FULL = 262,
    CHECK_NUMBERING = 268,
    CHECK_SPEC_LEN = 273,
    CHECK_DUPLICATE_FLAG = 286,
    CHECK_WIDTH_TABLE_FULL = 306,
    CHECK_WIDTH_NUMBERING = 314,
    CHECK_NEGATIVE_PRECISION = 332,
    CHECK_PRECISION_TABLE_FULL = 339,
    CHECK_PRECISION_NUMBERING = 347,
    CHECK_LENGTH_SPEC_LEN = 426,
    CHECK_VALID_LENGTH = 512,
    CHECK_NUMBERED_NONE = 527,
    CHECK_NUMBERED_ERRNO = 533,
    CHECK_MISSING_VARARG = 604,
    CHECK_SAME_LENGTH = 746,
    CHECK_SAME_TYPE = 747,
    CHECK_WIDTH_LAST = 763,
    CHECK_PRECISION_LAST = 770,
    CHECK_PIECE_FAILED = 917,
};

// Writes the error text of `failure` into buf from its start; returns the
// engine's result for it.
int write_failure(char *buf, size_t size, Failure failure);

// Result of parsing and numbering one format into a depth's table.
struct ParsedFormat {
    int arg_count = 0;
    int arg_numbering = ZT_PRINTF_ARG_NUMBERING_UNKNOWN;
    int value_count = 0;              // argument numbers read from the list
    int errno_number = 0;             // value slot of the errno text, 0 when unused
    const char *format_end = nullptr; // the format's terminating NUL
};

// Parses `fmt` into `args` (MAX_VARARG_COUNT records) and numbers the records.
Failure parse_format(const char *fmt, Arg *args, ParsedFormat &parsed);

// parse_format, or the table as the same depth's last call with the same
// format at the same address left it.
Failure parse_format_cached(const char *fmt, Arg *args, int depth, ParsedFormat &parsed);
// Forgets the calling thread's remembered parses: its tables are released.
void forget_parsed_formats();

// The scan "%u$%c" of the standard library: optional white space and sign,
// decimal digits, "$" and one more character. On success `number` is the
// value as sscanf stores it and `rest` points just past the "$".
struct PositionScan {
    bool positional = false;
    uint32_t number = 0;
    const char *rest = nullptr;
};
PositionScan scan_position(const char *text);

// Per-thread memory of the engine, per nesting depth.
struct MbsSlot {
    char text[MBSBUFFER_TEXT_SIZE];
    int32_t fill;
};

// The calling thread's active-call count (allocated on first use).
int32_t *thread_recursion_count();
// The calling thread's argument tables, MAX_RECURSIVE_CALLS of them.
Arg *thread_arg_tables();
// The calling thread's wide-text slots, MAX_RECURSIVE_CALLS of them.
MbsSlot *thread_mbs_slots();

// Fetches, converts and prints the parsed records into buf; returns the
// output length or the error text's length.
int render_format(char *buf, size_t size, const char *fmt, const Arg *args,
                  const ParsedFormat &parsed, MbsSlot &mbs, int saved_errno, va_list ap);

} // namespace ztc::printf_engine

#endif
