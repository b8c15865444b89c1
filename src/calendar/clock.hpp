// Cores of the clock: one reading of the clock in local time, shared by the clock texts
// and the POST exchange.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace qmrt::calendar {

// Where readings come from: the system clock by default, a fixed instant in the tests.
// Returns (std::time_t)-1 when the clock cannot be read, as std::time does.
using ClockSource = std::time_t (*)();

// Installs a source of readings; nullptr restores the system clock. Returns the previous one.
ClockSource set_clock_source(ClockSource source) noexcept;

struct LocalReading {
    std::time_t when;  // the reading itself, for its ctime text
    std::tm local;     // the same reading broken down in the process's local time
};

// Reads the clock once and breaks the reading down with localtime. Empty when the clock
// cannot be read or localtime gives no result.
std::optional<LocalReading> read_local_clock();

// Stores the second (0 to 60) of the current local time in g_timesec. When the clock
// cannot be read, g_timesec keeps its value and the result is false.
bool store_current_second();

// QM_TODAY: the current local date and time in layout `format` (0 to 8) written to
// destination, only when the whole text fits 20 bytes; nothing is written when the clock
// cannot be read or the layout is unknown.
void write_clock_text(char *destination, int format);

// QM_SYSTIME: (hour + 10) * 10000 + minute * 100 + second, with the second stored in
// g_timesec; 0 when the clock cannot be read.
std::int32_t time_of_day();

}  // namespace qmrt::calendar
