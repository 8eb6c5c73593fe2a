#include "base/ztc/error.h"

#include <array>
#include <cstdint>

namespace {

// Indexed by the code taken as unsigned; the last entry serves every code out of range.
constexpr std::array<const char *, 35> messages = {
    "Success",
    "Unknown error",
    "Invalid argument",
    "Operation not supported",
    "Out of memory",
    "Insufficient resources",
    "Not allowed",
    "Not found",
    "Not connected",
    "End of file",
    "I/O error",
    "Already in use",
    "Try again",
    "Syntax error",
    "No data available",
    "No data available right now",
    "Intra frame needed",
    "Gap in sequence numbers",
    "Old sequence number",
    "Timeout",
    "Synchronisation error",
    "Version mismatch",
    "Not support",
    "Already exists",
    "Cancelled",
    "Authentication failure",
    "Not opened",
    "Invalid error code 27",
    "Not initialised",
    "Playback error",
    "Recording error",
    "Truncated",
    "Wrong type",
    "Overflow",
    "Invalid error code",
};

static_assert(ERROR_OVERFLOW + 2 == messages.size(), "one message per code plus the fallback");

} // namespace

extern "C" const char *zt_error_message(error_code_t code) {
    const auto index = static_cast<uint32_t>(code);
    return messages[index < messages.size() - 1 ? index : messages.size() - 1];
}
