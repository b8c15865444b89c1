#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t utdatenj(int32_t *out, int32_t day_number, int32_t days) {
    return *out = qmrt::calendar::shift_day_number(day_number, days);
}
