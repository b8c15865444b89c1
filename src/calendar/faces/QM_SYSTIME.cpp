#include "calendar/clock.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t QM_SYSTIME(void) {
    return qmrt::calendar::time_of_day();
}
