/* Exclusion locks: advisory byte-range locks on ".LOCK", ".LOCK_SHM" and ".VF_LOCK" in
 * the working directory that keep conflicting programs of the suite apart. */
#ifndef QMRT_LOCKS_H
#define QMRT_LOCKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

extern int32_t BASIC_LOCK_descriptor;  /* 0: not yet opened */
extern int32_t VERIFY_LOCK_descriptor; /* 0: not yet opened */
extern int32_t g_shmfd;                /* -1: not yet opened */
extern int16_t g_wt;
extern int16_t g_slotnum;
extern int16_t g_usernum;

int32_t DQ_LOCKING(int32_t code);

#ifdef __cplusplus
}
#endif

#endif
