#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t utdateji(int32_t *out, int32_t day_number) {
    return *out = qmrt::calendar::day_number_to_packed(day_number);
}
