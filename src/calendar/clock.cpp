// The current local date and time as texts and as the time-of-day integer.
#include "calendar/clock.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "qmrt/calendar.h"

namespace qmrt::calendar {
namespace {

std::time_t system_clock_reading() {
    return std::time(nullptr);
}

ClockSource clock_source = system_clock_reading;

// The room callers provide: the longest text of a four-digit year (code 2) and its
// terminator. A longer text is not written at all.
constexpr std::size_t longest_text = 20;

// Formats the text of one layout from one reading into text; false when there is none.
bool format_text(char (&text)[64], int format, const LocalReading &reading) {
    const std::tm &tm = reading.local;
    if (format == 3 || format == 6) {
        // ctime converts the same reading again, in the same time zone.
        const char *ctime_text = std::ctime(&reading.when);
        if (ctime_text == nullptr) return false;
        std::size_t length = format == 3 ? 10 : 16;
        std::memcpy(text, ctime_text, length);
        text[length] = '\0';
        return true;
    }
    if (format == 1) {
        int hour = tm.tm_hour > 12 ? tm.tm_hour - 12 : tm.tm_hour;
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, tm.tm_min, tm.tm_sec);
        return true;
    }
    // In 64 bits: tm_year may be as large as INT_MAX. A year of more or fewer than four
    // digits gives a longer or shorter text, which the caller gets when it fits.
    const long long y = tm.tm_year + 1900LL;
    const int month = tm.tm_mon + 1;
    switch (format) {
        case 0:
            std::snprintf(text, sizeof text, "%02d%02d%04lld", month, tm.tm_mday, y);
            return true;
        case 2:
            std::snprintf(text, sizeof text, "%02d/%02d/%04lld %02d:%02d:%02d", tm.tm_mday, month,
                          y, tm.tm_hour, tm.tm_min, tm.tm_sec);
            return true;
        case 4:
            std::snprintf(text, sizeof text, "%02d/%02d/%04lld", month, tm.tm_mday, y);
            return true;
        case 5:
        case 7:
            std::snprintf(text, sizeof text, "%02d%02d%04lld", tm.tm_mday, month, y);
            return true;
        case 8:
            std::snprintf(text, sizeof text, "%04lld-%02d-%02d", y, month, tm.tm_mday);
            return true;
        default:
            return false;
    }
}

}  // namespace

ClockSource set_clock_source(ClockSource source) noexcept {
    ClockSource previous = clock_source;
    clock_source = source != nullptr ? source : system_clock_reading;
    return previous;
}

std::optional<LocalReading> read_local_clock() {
    std::time_t when = clock_source();
    if (when == static_cast<std::time_t>(-1)) return std::nullopt;
    // localtime rather than localtime_r: it takes up a changed TZ on every call.
    const std::tm *local = std::localtime(&when);
    if (local == nullptr) return std::nullopt;
    return LocalReading{when, *local};
}

bool store_current_second() {
    auto reading = read_local_clock();
    if (!reading) return false;
    g_timesec = reading->local.tm_sec;
    return true;
}

void write_clock_text(char *destination, int format) {
    if (format < 0 || format > 8) return;
    auto reading = read_local_clock();
    char text[64];
    if (!reading || !format_text(text, format, *reading)) return;
    // Written only when it fits whole: a five-digit year in code 2, or fields out of their
    // ranges, must not overrun the caller.
    std::size_t length = std::strlen(text);
    if (length < longest_text) std::memcpy(destination, text, length + 1);
}

std::int32_t time_of_day() {
    auto reading = read_local_clock();
    if (!reading) return 0;
    const std::tm &tm = reading->local;
    g_timesec = tm.tm_sec;
    return (tm.tm_hour + 10) * 10000 + tm.tm_min * 100 + tm.tm_sec;
}

}  // namespace qmrt::calendar
