/* Calendar and clock: packed dates (year * 10000 + month * 100 + day), day numbers
 * (Julian Day Numbers of the proleptic Gregorian calendar) and date parts; the current
 * local date and time as texts and as an integer. */
#ifndef QMRT_CALENDAR_H
#define QMRT_CALENDAR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int32_t QMleapyr(int16_t year, int16_t month, int16_t day);
int32_t QMdatein(int16_t year, int16_t month, int16_t day);
int32_t utdategi(int32_t *out, int16_t year, int16_t month, int16_t day);
int32_t utdategj(int32_t *out, int16_t year, int16_t month, int16_t day);
int32_t utdateij(int32_t *out, int32_t packed);
int32_t utdatejg(int32_t day_number, int16_t *year, int16_t *month, int16_t *day);
int32_t utdateji(int32_t *out, int32_t day_number);
int32_t utdatenj(int32_t *out, int32_t day_number, int32_t days);
int32_t utdateni(int32_t *out, int32_t packed, int32_t days);

extern int32_t g_timesec;
int32_t QM_TODAY(char *destination, int16_t format);
int32_t QM_SYSDATE(void);
int32_t QM_SYSTIME(void);
int32_t uttimesi(void);

#ifdef __cplusplus
}
#endif

#endif
