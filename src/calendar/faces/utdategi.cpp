#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t utdategi(int32_t *out, int16_t year, int16_t month, int16_t day) {
    return *out = qmrt::calendar::parts_to_packed(year, month, day);
}
