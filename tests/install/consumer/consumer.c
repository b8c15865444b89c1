/* A user's program: built against an installed copy of the library. */
#include <qmrt/qmrt.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    if (log_info("consumer %d", 1) != 10) return 1;
    if (write_debug2("consumer\n") != 0) return 1;
    puts("consumer ok");
    return 0;
}
