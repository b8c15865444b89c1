/* A user's program: built against an installed copy of the library. It makes no
 * transfer, so nothing of libcurl may be loaded into it. */
#include <qmrt/qmrt.h>
#include <stdio.h>
#include <string.h>

static int libcurl_mapped(void) {
    FILE *maps = fopen("/proc/self/maps", "r");
    char line[4096];
    int found = maps == NULL;
    while (!found && fgets(line, sizeof line, maps) != NULL)
        found = strstr(line, "libcurl") != NULL;
    if (maps != NULL) fclose(maps);
    return found;
}

int main(void) {
    int32_t day_number;
    if (log_info("consumer %d", 1) != 10) return 1;
    if (write_debug2("consumer\n") != 0) return 1;
    if (utdateij(&day_number, 20240229) != 2460370) return 1;
    if (libcurl_mapped()) {
        puts("libcurl is loaded in a program that makes no transfer");
        return 1;
    }
    puts("consumer ok");
    return 0;
}
