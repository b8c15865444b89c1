// C faces of the date conversions: each stores its result through its first argument
// (or the three part addresses) and returns it.
#include "calendar/dates.hpp"

#include "common/export.hpp"
#include "qmrt/calendar.h"

using namespace qmrt::calendar;

QMRT_EXPORT int32_t QMleapyr(int16_t year, int16_t month, int16_t day) {
    return is_leap_day(year, month, day) ? 1 : 0;
}

QMRT_EXPORT int32_t QMdatein(int16_t year, int16_t month, int16_t day) {
    return validate_and_pack(year, month, day);
}

QMRT_EXPORT int32_t utdategi(int32_t *out, int16_t year, int16_t month, int16_t day) {
    return *out = parts_to_packed(year, month, day);
}

QMRT_EXPORT int32_t utdategj(int32_t *out, int16_t year, int16_t month, int16_t day) {
    return *out = parts_to_day_number(year, month, day);
}

QMRT_EXPORT int32_t utdateij(int32_t *out, int32_t packed) {
    return *out = packed_to_day_number(packed);
}

QMRT_EXPORT int32_t utdatejg(int32_t day_number, int16_t *year, int16_t *month, int16_t *day) {
    DateParts parts = day_number_to_parts(day_number);
    *year = parts.year;
    *month = parts.month;
    *day = parts.day;
    return 0;
}

QMRT_EXPORT int32_t utdateji(int32_t *out, int32_t day_number) {
    return *out = day_number_to_packed(day_number);
}

QMRT_EXPORT int32_t utdatenj(int32_t *out, int32_t day_number, int32_t days) {
    return *out = shift_day_number(day_number, days);
}

QMRT_EXPORT int32_t utdateni(int32_t *out, int32_t packed, int32_t days) {
    return *out = shift_packed(packed, days);
}
