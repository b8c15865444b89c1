#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t utdategj(int32_t *out, int16_t year, int16_t month, int16_t day) {
    return *out = qmrt::calendar::parts_to_day_number(year, month, day);
}
