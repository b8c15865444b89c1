/* Memory: zero-filled allocation by the suite's rounding rule, growth of counted
 * blocks, and a bounded byte buffer whose appends never grow it. */
#ifndef QMRT_MEMORY_H
#define QMRT_MEMORY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A new zero-filled block for numobj elements of sizobj bytes, made by one calloc as the
 * suite's rounding rule decides:
 *   - numobj or sizobj 0: prints "mballc sizobj = %d; numobj = %d\n" on standard output
 *     and allocates 1 element of 4 bytes (no failure);
 *   - sizobj 1: 1 element of numobj rounded up to a multiple of 4 (so a byte block has
 *     no spare byte when numobj is a multiple of 4);
 *   - otherwise numobj elements of sizobj rounded up to a multiple of 4.
 * Returns null when the allocation fails, after printing
 * "memory habis untuk  %d x %d, errno = %d\n" with the element count and size as
 * allocated and errno. A numobj (with sizobj 1) or sizobj above 4294967292, whose
 * rounding would wrap, is refused: null with errno ENOMEM and no message. The caller
 * owns the block and releases it with mbfree. */
void *mballc(uint32_t numobj, uint32_t sizobj);

/* Releases a block of mballc or QM_CPMEM_LONG; a null pointer is accepted. */
void mbfree(void *block);

/* Grows the counted block (*count elements of size bytes at *block) by add elements:
 * a new block is made by mballc for *count + add elements (with its messages), the old
 * elements are copied to its start, the old block is released, then *block and *count
 * are stored. Every success leaves a new block; the added elements are zero. While
 * *count is 0, *block is neither read nor released. Returns 0 on success and 1 with
 * both cells and the old block untouched when no memory was left, and also, printing
 * nothing, for a growth outside the 32-bit limits: a negative size, a new count past
 * UINT32_MAX, or a block whose rounded byte size would pass 32 bits. */
int QM_CPMEM_LONG(uint32_t *count, uint32_t add, void **block, int16_t size);

/* A bounded byte buffer: len bytes held in data, which has room for limit bytes.
 * The bytes are raw (a zero byte is content) and carry no terminator. The record and
 * data are malloc'd by buf_size; the owner frees data, then the record. */
typedef struct bounded_buf {
    uint64_t len;
    uint64_t limit;
    char *data;
} bounded_buf;

/* Creates a buffer (len 0) when buf is null, then resizes data to exactly size bytes,
 * keeping the bytes both sizes share; len is cut to size and limit becomes size.
 * Returns the buffer. A size of 0 leaves an empty buffer (len and limit 0) whose data
 * is still a live block, ready for a later buf_size. Fatal reports: "buf != NULL"
 * (record not allocated), "buf->data != NULL" (data not allocated or resized). */
bounded_buf *buf_size(bounded_buf *buf, uint64_t size);

/* Appends one byte. Fatal reports: "buf != NULL", "buf->len < buf->limit". */
void buf_push(bounded_buf *buf, char byte);

/* Appends len bytes from src; never grows the buffer. Fatal reports: "dst != NULL",
 * "src != NULL" (even when len is 0), "dst->len + len <= dst->limit". */
void buf_concat(bounded_buf *dst, const char *src, uint64_t len);

/* A new malloc'd text of the held bytes and a terminating zero; the buffer is not
 * changed and the caller frees the text. Fatal reports: "buf != NULL", "str != NULL". */
char *buf_tostr(const bounded_buf *buf);

#ifdef __cplusplus
}
#endif

#endif
