#ifndef ZTC_DEBUG_OUTPUTS_H
#define ZTC_DEBUG_OUTPUTS_H

/* Managed debug outputs: records made ready, added to and removed from the output list while
   other threads print; outputs to files (with rotation), syslog and the journal; settings
   from a text or the environment. docs/logging.md gives the guarantees of every call. */

#include <stddef.h>
#include <stdint.h>

#include "base/ztc/debug/debug.h"
#include "base/ztc/error.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its public names are exported. */
#pragma GCC visibility push(default)

/* Ready records, not yet in the list: every module's level 3, the name cut to 127 bytes.
   A null text format is the standard-error format. */
void debug_output_init_text(debug_output_t *output, const char *name, const char *format,
                            debug_write_cb write, intptr_t user);
void debug_output_init_binary(debug_output_t *output, const char *name, debug_write_cb write,
                              intptr_t user);
void debug_output_init_external(debug_output_t *output, const char *name,
                                debug_external_cb callback, intptr_t user);

/* Links the record at the end of the list with an id no linked output has.
   ERROR_INVALID_ARGUMENT: null, or already linked. */
error_code_t debug_output_add(debug_output_t *output);
/* Unlinks the record. On return no thread is inside its writer or can enter it, and the
   record may be freed. ERROR_INVALID_ARGUMENT: null or not linked; ERROR_IN_USE: called
   from inside a delivery to this output. */
error_code_t debug_output_remove(debug_output_t *output);
/* The first linked output of that name, or null. */
debug_output_t *debug_output_find(const char *name);
/* One module's level, or every module's with module -1; raises debug_max_runtime_level to
   the level when it is lower. */
void debug_output_set_level(debug_output_t *output, int module, int level);

/* An output appending to path (created 0644 less the umask), added to the list; type
   DEBUG_OUTPUT_TEXT (standard-error format) or DEBUG_OUTPUT_BINARY. With max_bytes > 0 a line
   that would take the file past max_bytes first rotates it (path.1 ... path.<keep>).
   Null with errno set when it cannot be opened. */
debug_output_t *debug_output_open_file(const char *name, const char *path, int type,
                                       size_t max_bytes, int keep);
/* Opens a file output's path again (after an outside tool moved the file away).
   ERROR_INVALID_ARGUMENT: not a file output; ERROR_IN_USE: called from inside a delivery to
   it; ERROR_IO (errno set): the old file stays. */
error_code_t debug_output_reopen(debug_output_t *output);
/* Writes out the lines a file output holds (null: every file output). */
void debug_output_flush(debug_output_t *output);
/* Each print through syslog(3) with ident (null: the program name) and facility (LOG_USER,
   LOG_LOCAL0, ...). Null with errno EINVAL for a facility outside LOG_FACMASK. */
debug_output_t *debug_output_open_syslog(const char *name, const char *ident, int facility);
/* Each print as one datagram of the journal's native protocol to socket_path (null: the
   system journal). Null with errno set when the socket cannot be made. */
debug_output_t *debug_output_open_journal(const char *name, const char *socket_path);
/* Removes and releases an output opened by one of the open calls; nothing for any other. */
void debug_output_close(debug_output_t *output);
/* Lines or records an opened output could not deliver; 0 for any other output. */
uint64_t debug_output_dropped(const debug_output_t *output);

/* Applies settings: comma-separated items LEVEL or MODULE=LEVEL, levels 0 to 9 or off, error,
   warn, info, debug, trace. ERROR_INVALID_ARGUMENT, and nothing changed, when an item is
   wrong. The library applies $ZTC_DEBUG so at start-up, and opens $ZTC_DEBUG_FILE. */
error_code_t debug_configure(const char *settings);

/* The name settings give a level ("off", "error", "warn", "info", "debug", "trace"), or NULL
   for a level without one. */
const char *debug_level_name(int level);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
