#include "calendar/clock.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

// The date is only read: nothing receives it, so no text is kept.
QMRT_EXPORT int32_t QM_SYSDATE(void) {
    qmrt::calendar::read_local_clock();
    return 0;
}
