#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t QMleapyr(int16_t year, int16_t month, int16_t day) {
    return qmrt::calendar::is_leap_day(year, month, day) ? 1 : 0;
}
