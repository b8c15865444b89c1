// The lock cells, set and read by callers.
#include "common/export.hpp"
#include "qmrt/locks.h"

// The descriptors are plain cells, never owned by a closing wrapper: closing any
// descriptor of a lock file would drop every lock this process holds on that file, so
// they stay open until the process ends.
QMRT_VISIBLE int32_t BASIC_LOCK_descriptor = 0;
QMRT_VISIBLE int32_t VERIFY_LOCK_descriptor = 0;
QMRT_VISIBLE int32_t g_shmfd = -1;
QMRT_VISIBLE int16_t g_wt = 0;
QMRT_VISIBLE int16_t g_slotnum = 0;
QMRT_VISIBLE int16_t g_usernum = 0;
