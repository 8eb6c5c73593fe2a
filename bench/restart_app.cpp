// The application of the restart benchmark: asks for a restart (42) until the
// count in $BENCH_RESTARTS_FILE runs out, then exits 0.
#include <cstdio>
#include <cstdlib>

int main() {
    const char *path = getenv("BENCH_RESTARTS_FILE");
    if (path == nullptr) return 2;
    FILE *f = fopen(path, "r+");
    if (f == nullptr) return 2;
    int left = 0;
    if (fscanf(f, "%d", &left) != 1) left = 0;
    rewind(f);
    fprintf(f, "%d\n", left - 1);
    fclose(f);
    return left > 1 ? 42 : 0;
}
