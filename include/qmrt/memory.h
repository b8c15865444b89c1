/* Memory: zero-filled allocation by the suite's rounding rule, growth of counted
 * blocks, and a bounded byte buffer whose appends never grow it. */
#ifndef QMRT_MEMORY_H
#define QMRT_MEMORY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

void *mballc(uint32_t numobj, uint32_t sizobj);
void mbfree(void *block);
int QM_CPMEM_LONG(uint32_t *count, uint32_t add, void **block, int16_t size);

typedef struct bounded_buf {
    uint64_t len;
    uint64_t limit;
    char *data;
} bounded_buf;

bounded_buf *buf_size(bounded_buf *buf, uint64_t size);
void buf_push(bounded_buf *buf, char byte);
void buf_concat(bounded_buf *dst, const char *src, uint64_t len);
char *buf_tostr(const bounded_buf *buf);

#ifdef __cplusplus
}
#endif

#endif
