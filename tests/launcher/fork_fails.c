/* Preloaded into the launcher: every fork fails as it does when the process
 * limit is reached, which a test run as root cannot otherwise provoke. */
#include <errno.h>
#include <sys/types.h>

pid_t fork(void) {
    errno = EAGAIN;
    return -1;
}
