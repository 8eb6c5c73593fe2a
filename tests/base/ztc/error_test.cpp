#include <string>

#include <gtest/gtest.h>

#include "base/ztc/error.h"
#include "base/ztc/extensions.h"
#include "tests/base/ztc/guarded_buffer.hpp"

namespace {

struct error_case {
    error_code_t code;
    const char *message;
};

const error_case error_cases[] = {
    {ERROR_SUCCESS, "Success"},
    {ERROR_UNKNOWN, "Unknown error"},
    {ERROR_INVALID_ARGUMENT, "Invalid argument"},
    {ERROR_NOT_SUPPORTED, "Operation not supported"},
    {ERROR_OUT_OF_MEMORY, "Out of memory"},
    {ERROR_INSUFFICIENT_RESOURCES, "Insufficient resources"},
    {ERROR_NOT_ALLOWED, "Not allowed"},
    {ERROR_NOT_FOUND, "Not found"},
    {ERROR_NOT_CONNECTED, "Not connected"},
    {ERROR_END_OF_FILE, "End of file"},
    {ERROR_IO, "I/O error"},
    {ERROR_IN_USE, "Already in use"},
    {ERROR_TRY_AGAIN, "Try again"},
    {ERROR_SYNTAX, "Syntax error"},
    {ERROR_NO_DATA, "No data available"},
    {ERROR_NO_DATA_NOW, "No data available right now"},
    {ERROR_INTRA_FRAME_NEEDED, "Intra frame needed"},
    {ERROR_SEQUENCE_GAP, "Gap in sequence numbers"},
    {ERROR_OLD_SEQUENCE, "Old sequence number"},
    {ERROR_TIMEOUT, "Timeout"},
    {ERROR_SYNCHRONISATION, "Synchronisation error"},
    {ERROR_VERSION_MISMATCH, "Version mismatch"},
    {ERROR_UNSUPPORTED, "Not support"},
    {ERROR_ALREADY_EXISTS, "Already exists"},
    {ERROR_CANCELLED, "Cancelled"},
    {ERROR_AUTHENTICATION, "Authentication failure"},
    {ERROR_NOT_OPENED, "Not opened"},
    {27, "Invalid error code 27"},
    {ERROR_NOT_INITIALISED, "Not initialised"},
    {ERROR_PLAYBACK, "Playback error"},
    {ERROR_RECORDING, "Recording error"},
    {ERROR_TRUNCATED, "Truncated"},
    {ERROR_WRONG_TYPE, "Wrong type"},
    {ERROR_OVERFLOW, "Overflow"},
    // Out of range, either side, never indexes past the table.
    {34, "Invalid error code"},
    {35, "Invalid error code"},
    {100, "Invalid error code"},
    {-1, "Invalid error code"},
    {INT32_MIN, "Invalid error code"},
    {INT32_MAX, "Invalid error code"},
};

TEST(ErrorCodes, MessageAndFormattedText) {
    for (const auto &c : error_cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(zt_error_message(c.code), c.message);
        const std::string want = "[" + std::to_string(c.code) + "]" + c.message;
        ztc_test::expect_text("error", zt_printf_cb_error_code_t, &c.code, want);
        EXPECT_TRUE(ztc_test::cuts_cleanly(zt_printf_cb_error_code_t, &c.code));
    }
}

} // namespace
