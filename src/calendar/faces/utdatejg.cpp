#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t utdatejg(int32_t day_number, int16_t *year, int16_t *month, int16_t *day) {
    const qmrt::calendar::DateParts parts = qmrt::calendar::day_number_to_parts(day_number);
    *year = parts.year;
    *month = parts.month;
    *day = parts.day;
    return 0;
}
