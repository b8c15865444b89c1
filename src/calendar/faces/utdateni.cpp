#include "calendar/dates.hpp"
#include "common/export.hpp"
#include "qmrt/calendar.h"

QMRT_EXPORT int32_t utdateni(int32_t *out, int32_t packed, int32_t days) {
    return *out = qmrt::calendar::shift_packed(packed, days);
}
