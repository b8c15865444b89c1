#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t QMdatein(int16_t year, int16_t month, int16_t day) {
    return qmrt::calendar::validate_and_pack(year, month, day);
}
