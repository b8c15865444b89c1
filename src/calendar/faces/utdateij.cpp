#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t utdateij(int32_t *out, int32_t packed) {
    return *out = qmrt::calendar::packed_to_day_number(packed);
}
