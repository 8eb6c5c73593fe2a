/* Loads the plugin given on the command line and formats through it. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    void *plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    int (*format)(char *, size_t, int) =
        (int (*)(char *, size_t, int))dlsym(plugin, "plugin_format");
    char text[64] = "";
    if (!format || format(text, sizeof text, 42) <= 0) return 1;
    puts(text);
    return strncmp(text, "plugin ", 7) != 0 || strstr(text, "|42") == NULL;
}
