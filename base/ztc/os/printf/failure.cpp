// The error text that stands in the caller's buffer when a format fails a check.
#include <array>
#include <cstdio>

#include "base/ztc/os/printf/internal.hpp"

namespace ztc::printf_engine {
namespace {

struct CheckText {
    int check;
    const char *text; // may hold one placeholder for the failure's value
};

constexpr const char *NUMBERING_TEXT = "valid_numbering:vararg_number=%u";
constexpr const char *SPEC_LEN_TEXT = "(arg)->cs_len + 1 < MAX_CONVERSION_SPEC_LEN:";
constexpr const char *TABLE_FULL_TEXT = "arg_count < MAX_VARARG_COUNT:";
constexpr const char *UNNUMBERED_TEXT = "args[i].vararg_number == 0:";
constexpr const char *STAR_LAST_TEXT = "arg_printed < arg_count:";

constexpr std::array<CheckText, 22> check_texts = {{
    {CHECK_NULL_FORMAT, "fmt != NULL:"},
    {CHECK_RECURSION, "recursion_depth < MAX_RECURSIVE_CALLS:"},
    {CHECK_TABLE_FULL, TABLE_FULL_TEXT},
    {CHECK_NUMBERING, NUMBERING_TEXT},
    {CHECK_SPEC_LEN, SPEC_LEN_TEXT},
    {CHECK_DUPLICATE_FLAG,
     "strchr(arg->cs, c) == &arg->cs[arg->cs_len - 1]:duplicate printf flag %c"},
    {CHECK_WIDTH_TABLE_FULL, TABLE_FULL_TEXT},
    {CHECK_WIDTH_NUMBERING, NUMBERING_TEXT},
    {CHECK_NEGATIVE_PRECISION, "c != '-':a negative precision is silly"},
    {CHECK_PRECISION_TABLE_FULL, TABLE_FULL_TEXT},
    {CHECK_PRECISION_NUMBERING, NUMBERING_TEXT},
    {CHECK_LENGTH_SPEC_LEN, SPEC_LEN_TEXT},
    {CHECK_VALID_LENGTH, "valid_length:"},
    {CHECK_NUMBERED_NONE, UNNUMBERED_TEXT},
    {CHECK_NUMBERED_ERRNO, UNNUMBERED_TEXT},
    {CHECK_MISSING_VARARG, "arg != NULL:fmt does not include vararg %i"},
    {CHECK_SAME_LENGTH, "arg->len == args[i].len:"},
    {CHECK_SAME_TYPE, "arg->type == args[i].type:"},
    {CHECK_WIDTH_LAST, STAR_LAST_TEXT},
    {CHECK_PRECISION_LAST, STAR_LAST_TEXT},
    {CHECK_PIECE_FAILED, "res >= 0:"},
    {CHECK_NONE, ""},
}};

const char *check_text(int check) {
    for (const CheckText &entry : check_texts) {
        if (entry.check == check) return entry.text;
    }
    return "";
}

} // namespace

int write_failure(char *buf, size_t size, Failure failure) {
    int header = snprintf(buf, size, "error:%i:", failure.check);
    if (header < 0) header = 0;
    const size_t header_len = static_cast<size_t>(header);
    if (header_len >= size) return header;

    // Every text takes at most one value, so one extra argument serves all.
    const unsigned value = static_cast<unsigned>(failure.value);
    int text = snprintf(buf + header_len, size - header_len, check_text(failure.check), value);
    if (text < 0) {
        buf[header_len] = '\0';
        return header;
    }
    return header + text;
}

} // namespace ztc::printf_engine
