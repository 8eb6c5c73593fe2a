/* The baseline of the restart benchmark: starts argv[1] with fork and execv and
 * waits for it, again for as long as it exits with the restart status 42. */
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    char *args[] = {argv[1], NULL};
    for (;;) {
        const pid_t pid = fork();
        if (pid < 0) return 1;
        if (pid == 0) {
            execv(argv[1], args);
            _exit(127);
        }
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 1;
        if (WEXITSTATUS(status) != 42) return WEXITSTATUS(status) == 0 ? 0 : 1;
    }
}
