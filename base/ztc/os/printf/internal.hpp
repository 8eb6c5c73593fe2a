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
// Around fork: the registration lock is held across it, so a child never inherits it taken.
void registry_lock_for_fork();
void registry_unlock_after_fork();

// A length code (ZT_PRINTF_LEN_*) as a bit of a set of them.
constexpr unsigned length_bit(int code) {
    return 1u << code;
}

enum PieceFlag : uint8_t {
    FLAG_MINUS = 1u << 0, // pad on the right
    FLAG_PLUS = 1u << 1,  // a sign for positive values too
    FLAG_SPACE = 1u << 2, // a space where a positive value has no sign
    FLAG_HASH = 1u << 3,  // alternate form
    FLAG_ZERO = 1u << 4,  // pad numbers with zeros after their sign
};

// A conversion's flags, width, precision and letter, read from its rebuilt
// conversion text once, when the record is complete.
struct Piece {
    uint8_t flags = 0;
    char letter = 0;
    bool own = false;       // the engine's own writers can serve it
    bool plain = false;     // no flags, width or precision: the value's text alone
    uint32_t width = 0;     // `*` values replace it when the piece is printed
    int32_t precision = -1; // -1: none given
};

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
    Piece piece;
};

// Whether an integer conversion with this length code reads a 64-bit value.
constexpr bool reads_64_bits(int len) {
    return len == ZT_PRINTF_LEN_L || len == ZT_PRINTF_LEN_LL || len == ZT_PRINTF_LEN_J ||
           len == ZT_PRINTF_LEN_Z || len == ZT_PRINTF_LEN_T || len == ZT_PRINTF_LEN_I64;
}

// Decodes the record's rebuilt conversion text (`cs`) into its piece.
void decode_piece(Arg &arg);

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
    // Every conversion reads one plain value in order and has its own writer:
    // no `*`, positional number, count, errno, wide or extension conversion.
    bool simple = false;
    // The format ends inside a conversion, or where text after it could change how its last
    // conversion is read.
    bool unfinished = false;
};

// Parses `fmt` into `args` (MAX_VARARG_COUNT records) and numbers the records.
Failure parse_format(const char *fmt, Arg *args, ParsedFormat &parsed);

// Formats of this many bytes or more, and formats of more records, are not
// remembered: they are parsed on every call.
inline constexpr size_t CACHED_FORMAT_SIZE = 160;
inline constexpr int CACHED_RECORDS = 12;

// parse_format into `args`, or the remembered parse of the same format at
// the same address; `records` is where the records to print stand.
Failure parse_format_cached(const char *fmt, Arg *args, int depth, ParsedFormat &parsed,
                            const Arg *&records);

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

// The calling thread's values as last fetched from their keys: a key lookup
// on every call costs as much as formatting a short number. An entry is
// cleared where its value is released, so it never outlives the value.
struct ThreadValues {
    int32_t *recursion_count;
    Arg *arg_tables;
    MbsSlot *mbs_slots;
};
extern constinit thread_local ThreadValues thread_values;

// The key lookups (and the allocation on a thread's first use) behind them.
int32_t *fetch_recursion_count();
Arg *fetch_arg_tables();
MbsSlot *fetch_mbs_slots();

// The calling thread's active-call count (allocated on first use).
inline int32_t *thread_recursion_count() {
    if (int32_t *value = thread_values.recursion_count) [[likely]]
        return value;
    return fetch_recursion_count();
}
// The calling thread's argument tables, MAX_RECURSIVE_CALLS of them.
inline Arg *thread_arg_tables() {
    if (Arg *value = thread_values.arg_tables) [[likely]]
        return value;
    return fetch_arg_tables();
}
// The calling thread's wide-text slots, MAX_RECURSIVE_CALLS of them.
inline MbsSlot *thread_mbs_slots() {
    if (MbsSlot *value = thread_values.mbs_slots) [[likely]]
        return value;
    return fetch_mbs_slots();
}

// Literal text printed before and after a format's own output.
struct Frame {
    std::string_view before;
    std::string_view after;
};

// Prints literal text and plain conversions straight from the format, with
// `frame` (when not null) around them; -1 where the general path must serve the format (the
// buffer may then hold part of an output, and `ap` is spent). `general_first`
// tells whether the general path is the quicker way for this format: it must
// serve it, or its remembered parse beats reading the format again.
int render_direct(char *buf, size_t size, const char *fmt, const Frame *frame, va_list ap,
                  bool &general_first);

// zt_vsprintf without the direct output: what the direct output must equal.
int vsprintf_general(char *buf, size_t size, const char *fmt, va_list ap);

// Prints a simple format (see ParsedFormat) in one pass, reading each value
// as its record is printed.
int render_simple(char *buf, size_t size, const Arg *args, const ParsedFormat &parsed,
                  const char *fmt, const Frame &frame, va_list ap);

// Fetches, converts and prints the parsed records into buf; returns the
// output length or the error text's length.
int render_format(char *buf, size_t size, const char *fmt, const Arg *args,
                  const ParsedFormat &parsed, const Frame &frame, MbsSlot &mbs, int saved_errno,
                  va_list ap);

} // namespace ztc::printf_engine

#endif
