/* HTTP JSON client: a GET fetch of a JSON document and the POST exchange with the
 * suite's web service, traced in "debug2". */
#ifndef QMRT_HTTP_H
#define QMRT_HTTP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QM_VALUE_SIZE 64 /* the value cell: 63 characters and the terminator */

extern char *g_birt_temp;
extern int32_t g_birt_size;

char *json_fetch(const char *url);
size_t fetch_data(void *data, size_t size, size_t count, void *buffer);

/* keys: NULL-terminated list; values[i]: the caller's buffer of QM_VALUE_SIZE bytes */
int32_t QM_callService(const char *request, const char *const keys[], char *values[]);
size_t writefunction(void *data, size_t size, size_t count, void *user);

#ifdef __cplusplus
}
#endif

#endif
