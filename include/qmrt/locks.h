/* Exclusion locks: advisory byte-range locks on ".LOCK", ".LOCK_SHM" and ".VF_LOCK" in
 * the working directory that keep conflicting programs of the suite apart.
 *
 * Locks belong to the calling process and last until it ends. The lock files are opened
 * (created empty, mode 0600 less the umask, when missing) by the first call that needs
 * them and stay open for the life of the process: closing any descriptor of a lock file,
 * the ones below included, drops all of the process's locks on that file (so the trace
 * refuses a "debug2" that is one of them). A file that
 * cannot be opened leaves -1 in its cell, silently; requests on it then fail as if
 * another process held the bytes. No call ever waits for a lock. */
#ifndef QMRT_LOCKS_H
#define QMRT_LOCKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Descriptors of the lock files, always above the standard streams (one opened as 0, 1
 * or 2 is moved). 0 (-1 for g_shmfd): not yet opened; -1 after a failed opening, which
 * only g_shmfd retries on the next call. */
extern int32_t BASIC_LOCK_descriptor;  /* ".LOCK" */
extern int32_t VERIFY_LOCK_descriptor; /* ".VF_LOCK" */
extern int32_t g_shmfd;                /* ".LOCK_SHM", opened for the caller, never locked */

/* Set by the caller before a call: non-zero g_wt makes every code but 2 only open its
 * files and return 0; g_slotnum is the user slot of code 2 (negative: no slot). */
extern int16_t g_wt;
extern int16_t g_slotnum;
/* Set to g_slotnum when code 2 takes a slot byte; otherwise left alone. */
extern int16_t g_usernum;

/* Runs one lock operation. Codes:
 *   0  Pelmarin instance lock (byte 0 of ".LOCK"). Returns 0. Refusal: prints
 *      "\nPelmarin sedang dijalankan di terminal lain\n", exit(0).
 *   1  pair lock (byte 1, then bytes 2..201 of ".LOCK"). Returns 0. Refusals: byte 1
 *      held: "\ntovrasel/kinsoret sedang dijalankan di terminal lain\n", exit(0);
 *      bytes 2..201 held (slot bytes of slots 0..56 and byte 201 of slot 57 included):
 *      "Program run sedang jalan, harap dimatikan dulu\n" through qm_errstr, exit(-1),
 *      seen as 255 by the parent.
 *   2  slot lock, also with g_wt set: tests byte 1, refusing with
 *      "\ntovrasel/kinsoret sedang jalan, tidak boleh bersamaan\n" through qm_errstr,
 *      exit(0); then takes the first free byte of 30 + 3 * g_slotnum + 0..2 and
 *      returns 0, or returns -2 (g_usernum unchanged) when all three are held.
 *      A negative g_slotnum returns 0 after the test, taking no slot byte: such a
 *      program holds no byte code 1 claims, so it never keeps tovrasel or kinsoret out.
 *   5  verify join: takes the lowest byte of ".VF_LOCK" no other process holds and
 *      returns 1. If a request fails for any reason other than a byte held by another
 *      process (for instance ".VF_LOCK" could not be opened), the scan stops and the
 *      call returns 0 with no lock taken.
 *   6  verify test: returns 1 when another process holds a byte in 0..199 of
 *      ".VF_LOCK", else 0; returning 0 also releases the caller's own bytes in 0..199.
 *      Refusal if that release fails: "\nProblem with unlocking slot 6\n", exit(0).
 *   any other code: opens ".LOCK" and ".LOCK_SHM" and returns 0.
 * Refusal texts go to standard output; exit flushes it and runs the exit handlers. */
int32_t DQ_LOCKING(int32_t code);

#ifdef __cplusplus
}
#endif

#endif
