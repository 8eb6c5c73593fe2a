#ifndef ZTC_ERROR_H
#define ZTC_ERROR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its public names are exported. */
#pragma GCC visibility push(default)

/* Result of every library operation that can fail; 0 is success. */
typedef int32_t error_code_t;

enum {
    ERROR_SUCCESS = 0,
    ERROR_UNKNOWN = 1,
    ERROR_INVALID_ARGUMENT = 2,
    ERROR_NOT_SUPPORTED = 3,
    ERROR_OUT_OF_MEMORY = 4,
    ERROR_INSUFFICIENT_RESOURCES = 5,
    ERROR_NOT_ALLOWED = 6,
    ERROR_NOT_FOUND = 7,
    ERROR_NOT_CONNECTED = 8,
    ERROR_END_OF_FILE = 9,
    ERROR_IO = 10,
    ERROR_IN_USE = 11,
    ERROR_TRY_AGAIN = 12,
    ERROR_SYNTAX = 13,
    ERROR_NO_DATA = 14,
    ERROR_NO_DATA_NOW = 15,
    ERROR_INTRA_FRAME_NEEDED = 16,
    ERROR_SEQUENCE_GAP = 17,
    ERROR_OLD_SEQUENCE = 18,
    ERROR_TIMEOUT = 19,
    ERROR_SYNCHRONISATION = 20,
    ERROR_VERSION_MISMATCH = 21,
    ERROR_UNSUPPORTED = 22,
    ERROR_ALREADY_EXISTS = 23,
    ERROR_CANCELLED = 24,
    ERROR_AUTHENTICATION = 25,
    ERROR_NOT_OPENED = 26,
    /* 27 is unassigned */
    ERROR_NOT_INITIALISED = 28,
    ERROR_PLAYBACK = 29,
    ERROR_RECORDING = 30,
    ERROR_TRUNCATED = 31,
    ERROR_WRONG_TYPE = 32,
    ERROR_OVERFLOW = 33
};

/* The message of a code; codes outside 0..33 give "Invalid error code", 27 its own text.
 * Never null. */
const char *zt_error_message(error_code_t code);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
