/* HTTP JSON client on libcurl: a GET fetch of a JSON document, and the POST exchange with
 * the suite's web service, every step of which is traced in "debug2". Single-threaded. */
#ifndef QMRT_HTTP_H
#define QMRT_HTTP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QM_VALUE_SIZE 64 /* the value cell: 63 characters and the terminator */

/* The latest reply of the exchange: g_birt_size bytes at g_birt_temp, always followed by
 * a zero byte, so the reply reads as a text. Kept until the next exchange starts. */
extern char *g_birt_temp;
extern int32_t g_birt_size;

/* Fetches url by GET (header "Accept: application/json", redirects not followed, any
 * HTTP status accepted) and returns the body as a new malloc'd text; the caller frees
 * it. A body holding a zero byte is returned whole, but reads as a text up to that zero.
 * Only http:// and https:// URLs are fetched. A transfer that receives nothing for the
 * build's stall time-out (QMRT_STALL_TIMEOUT seconds, 300 by default, 0 for none) fails
 * with libcurl's time-out; one that keeps receiving is never cut.
 * Every failure is fatal: "curl_easy_perform failed: <reason>" for a failed transfer
 * (any other scheme: "Unsupported protocol"; a stall: "Timeout was reached"),
 * "curl != NULL" (json_fetch) and the bounded-buffer reports for resources. */
char *json_fetch(const char *url);

/* The fetch's write callback: appends the chunk to the bounded_buf given as buffer.
 * A chunk larger than the room left first grows the buffer to its limit plus the whole
 * chunk (as buf_size does), so the room left over serves the next chunks; the buffer
 * never doubles. Returns size * count, or 0 (libcurl then fails the transfer) when that
 * product does not fit a size_t. A null buffer or chunk ends in buf_concat's reports. */
size_t fetch_data(void *data, size_t size, size_t count, void *buffer);

/* Posts request (a JSON text of at most 34999 characters) to the service endpoint fixed
 * at build time, with "Accept" and "Content-Type: application/json", and reads the value
 * of each key of the NULL-terminated list keys from the reply into values[i], the
 * caller's buffer of QM_VALUE_SIZE bytes. g_timesec receives the second of the call.
 * A transfer that receives nothing for the build's stall time-out (QMRT_STALL_TIMEOUT
 * seconds, 300 by default, 0 for none) fails with libcurl's time-out, result 28.
 * Returns 0 when every value was read, -1 otherwise, never ending the process:
 *   - no reply at all (no connection, TLS failure, a stall before any byte): -1,
 *     qm_errstr unchanged;
 *   - a transfer that failed after part of the reply came (cut, reset, stalled):
 *     "gagal, jawaban server terputus: <libcurl's reason>" in qm_errstr and the trace;
 *     nothing is read, and the part stays in the reply block;
 *   - a key missing from the reply: "gagal, jawaban server: <reply>" in qm_errstr (cut
 *     to its 500 bytes), and in the trace when it is the first key;
 *   - a value longer than 63 characters: "gagal, nilai \"<key>\" terlalu panjang (N > 63)"
 *     the same way; nothing is written to its buffer;
 *   - refused before anything is sent, the previous reply left in place:
 *     a request longer than 34999 characters, "gagal, permintaan terlalu panjang
 *     (N > 34999)", and a key without a value buffer (a null values, or a null values[i]),
 *     "gagal, tempat nilai \"<key>\" kosong", both in qm_errstr and the trace; a null
 *     request, "gagal, permintaan kosong" in qm_errstr only;
 *   - libcurl cannot be loaded or make a handle: "gagal, libcurl tidak dapat dipakai";
 *   - no memory for the exchange's own work: "gagal, memori habis", in the trace too.
 * Values read before a failure are already in their buffers. */
int32_t QM_callService(const char *request, const char *const keys[], char *values[]);

/* The exchange's write callback: stores the chunk after the bytes so far in the reply
 * block, a zero-filled block made by the suite's rounding rule. Up to 64 KiB of reply
 * every chunk leaves a new block of the rounded size; past that the block grows by at
 * least half at a time and is filled in place. Returns size * count, or (size_t)-1,
 * which makes libcurl abort the transfer, when no memory is left or the reply would pass
 * 2147483647 bytes; the reply block is then unchanged. */
size_t writefunction(void *data, size_t size, size_t count, void *user);

#ifdef __cplusplus
}
#endif

#endif
