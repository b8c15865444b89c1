#include "calendar/clock.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t QM_TODAY(char *destination, int16_t format) {
    qmrt::calendar::write_clock_text(destination, format);
    return 0;
}
