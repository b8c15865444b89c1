/* A program of the suite that uses libcurl itself and names its own write callbacks and
 * its own log_info as the library names its services. Its names serve its own calls;
 * the library's exchange and fetch must work as if those names were not there.
 *   namesakes DOCUMENT_URL
 * prints what the exchange and the fetch gave and how often its own names were called. */
#include <qmrt/qmrt.h>
#include <stdio.h>
#include <stdlib.h>

static int own_calls;

/* The program's own callbacks: they count the bytes they are given and keep none. */
size_t writefunction(void *data, size_t size, size_t count, void *user) {
    (void)data;
    (void)user;
    ++own_calls;
    return size * count;
}

size_t fetch_data(void *data, size_t size, size_t count, void *buffer) {
    (void)data;
    (void)buffer;
    ++own_calls;
    return size * count;
}

int log_info(const char *format, ...) {
    (void)format;
    ++own_calls;
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    char chunk[] = "abc";
    if (writefunction(chunk, 1, 3, NULL) != 3 || fetch_data(chunk, 1, 3, NULL) != 3 ||
        log_info("%s", chunk) != 0 || own_calls != 3) {
        puts("the program's own names do not serve its own calls");
        return 1;
    }
    own_calls = 0;

    /* The reference service answers with the request's own members and its status. */
    const char *keys[] = {"status", "perintah", NULL};
    char status[QM_VALUE_SIZE] = "", command[QM_VALUE_SIZE] = "";
    char *values[] = {status, command};
    int32_t result = QM_callService("{\"perintah\":\"saldo\"}", keys, values);
    printf("exchange %d: status=%s perintah=%s\n", (int)result, status, command);

    char *body = json_fetch(argv[1]);
    printf("fetch: %s\n", body);
    free(body);

    printf("own names called %d times\n", own_calls);
    return 0;
}
