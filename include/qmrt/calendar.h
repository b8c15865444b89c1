/* Calendar and clock: packed dates (year * 10000 + month * 100 + day), day numbers
 * (Julian Day Numbers of the proleptic Gregorian calendar) and date parts; the current
 * local date and time as texts and as an integer. */
#ifndef QMRT_CALENDAR_H
#define QMRT_CALENDAR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Dates. Exact inside the valid domain, 1 January of year 1 (day number 1721426) to
 * 31 December 32767 (13689325); outside it every function still returns what its
 * arithmetic gives (32-bit, wrapping), without a report. Date parts count by their low
 * 16 bits; packing takes a year below 1 as 1 and never checks month or day. Reentrant,
 * no state; out-parameters are not checked and must be writable. */

/* 1 when the parts are 29 February of a leap year (signed year: 0 and -4 are leap), else 0. */
int32_t QMleapyr(int16_t year, int16_t month, int16_t day);
/* The packed date of a valid date (any year; below 1 packs as 1), else 0. */
int32_t QMdatein(int16_t year, int16_t month, int16_t day);
/* Parts to packed date, stored through out and returned. */
int32_t utdategi(int32_t *out, int16_t year, int16_t month, int16_t day);
/* Parts to day number, stored through out and returned. */
int32_t utdategj(int32_t *out, int16_t year, int16_t month, int16_t day);
/* Packed date to day number, stored through out and returned; a month or day beyond the
 * calendar runs on into the following or preceding days. */
int32_t utdateij(int32_t *out, int32_t packed);
/* Day number to parts (no year floor); returns 0. */
int32_t utdatejg(int32_t day_number, int16_t *year, int16_t *month, int16_t *day);
/* Day number to packed date, stored through out and returned. */
int32_t utdateji(int32_t *out, int32_t day_number);
/* day_number + days (wrapping), stored through out and returned. */
int32_t utdatenj(int32_t *out, int32_t day_number, int32_t days);
/* The packed date days after (before, when negative) packed, stored through out and returned. */
int32_t utdateni(int32_t *out, int32_t packed, int32_t days);

/* Clock. Each call reads the clock once and breaks the reading down in the local time of
 * the process (TZ). Not thread-safe: localtime and ctime share one process-wide record.
 * When the clock cannot be read or the local time cannot be formed, no call fails loudly:
 * QM_TODAY writes nothing and returns 0, QM_SYSTIME and uttimesi return 0 and leave
 * g_timesec as it was. */

/* The second (0 to 60) of the latest reading of QM_SYSTIME, uttimesi or a service
 * exchange; 0 at process start. */
extern int32_t g_timesec;
/* Writes the current local date and time in the layout of format and returns 0:
 *   0 "MMDDYYYY"  1 "hh:mm:ss" (hours above 12 less 12)  2 "DD/MM/YYYY HH:mm:ss"
 *   3 "Www Mmm dd" (ctime)  4 "MM/DD/YYYY"  5 and 7 "DDMMYYYY"
 *   6 "Www Mmm dd HH:mm" (ctime)  8 "YYYY-MM-DD"
 * each followed by a terminating zero: at most 20 bytes, so the destination must hold 20.
 * Any other format writes nothing, and so does a text that would pass the 20 bytes (code
 * 2 with a local year of five digits or more); a year of another width is written as it
 * is, in at least four places, wherever the text fits. */
int32_t QM_TODAY(char *destination, int16_t format);
/* Reads the current date and returns 0; nothing else is handed back. */
int32_t QM_SYSDATE(void);
/* Stores the current second in g_timesec and returns the time of day as
 * (hour + 10) * 10000 + minute * 100 + second: 100000 to 335960. */
int32_t QM_SYSTIME(void);
/* The same as QM_SYSTIME. */
int32_t uttimesi(void);

#ifdef __cplusplus
}
#endif

#endif
