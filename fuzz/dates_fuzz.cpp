// The date conversions on any arguments: no undefined behaviour anywhere (the build
// traps on it), every result that of the steps as written, and inside the valid domain
// every conversion is undone by its inverse and agrees with the standard library's
// civil calendar.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "calendar/dates.hpp"
#include "qmrt/calendar.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

using qmrt::calendar::first_day;
using qmrt::calendar::last_day;
// The day number of 1970-01-01, where the standard library's days count from.
constexpr std::int32_t unix_epoch_day = 2440588;

template <typename T>
T take(const std::uint8_t *&data, std::size_t &size) {
    T value{};
    const std::size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const auto packed = take<std::int32_t>(data, size);
    const auto day_number = take<std::int32_t>(data, size);
    const auto days = take<std::int32_t>(data, size);
    const auto year = take<std::int16_t>(data, size);
    const auto month = take<std::int16_t>(data, size);
    const auto day = take<std::int16_t>(data, size);

    // Every conversion on raw arguments: whatever they give, the result is also stored.
    std::int32_t out = 0;
    std::int16_t y = 0, m = 0, d = 0;
    check(utdateij(&out, packed) == out);
    check(utdateji(&out, day_number) == out);
    check(utdateni(&out, packed, days) == out);
    check(utdatenj(&out, day_number, days) == out);
    check(utdategi(&out, year, month, day) == out);
    check(utdategj(&out, year, month, day) == out);
    check(utdatejg(day_number, &y, &m, &d) == 0);
    QMleapyr(year, month, day);
    QMdatein(year, month, day);

    // Whatever form a conversion takes, its result is that of the steps.
    namespace steps = qmrt::calendar::steps;
    check(utdateij(&out, packed) == steps::packed_to_day_number(packed));
    check(utdateji(&out, day_number) == steps::day_number_to_packed(day_number));
    check(utdategj(&out, year, month, day) == steps::parts_to_day_number(year, month, day));
    utdatejg(day_number, &y, &m, &d);
    check(qmrt::calendar::DateParts{y, m, d} == steps::day_number_to_parts(day_number));
    check(utdateni(&out, packed, days) ==
          steps::day_number_to_packed(static_cast<std::int32_t>(
              static_cast<std::uint32_t>(steps::packed_to_day_number(packed)) +
              static_cast<std::uint32_t>(days))));

    if (day_number >= first_day && day_number <= last_day) {
        // Day number -> parts -> day number, and -> packed -> day number.
        utdatejg(day_number, &y, &m, &d);
        std::int32_t back = 0, packed_date = 0;
        check(utdategj(&back, y, m, d) == day_number);
        check(QMdatein(y, m, d) == utdateji(&packed_date, day_number));
        check(utdateij(&back, packed_date) == day_number);
        // The standard library's proleptic Gregorian calendar agrees.
        const std::chrono::year_month_day civil{
            std::chrono::sys_days{std::chrono::days{day_number - unix_epoch_day}}};
        check(static_cast<int>(civil.year()) == y &&
              static_cast<unsigned>(civil.month()) == static_cast<unsigned>(m) &&
              static_cast<unsigned>(civil.day()) == static_cast<unsigned>(d));
        check(QMleapyr(y, m, d) == (m == 2 && d == 29 ? 1 : 0));
        // Shifting stays exact while the result stays in the domain.
        const std::int64_t shifted = std::int64_t{day_number} + days;
        if (shifted >= first_day && shifted <= last_day) {
            std::int32_t moved = 0, direct = 0;
            check(utdatenj(&moved, day_number, days) == shifted);
            check(utdateni(&moved, packed_date, days) ==
                  utdateji(&direct, static_cast<std::int32_t>(shifted)));
        }
    }

    // Parts the standard library calls valid pack and count the same way.
    const std::chrono::year_month_day parts{std::chrono::year{year},
                                            std::chrono::month{static_cast<unsigned>(month & 0xff)},
                                            std::chrono::day{static_cast<unsigned>(day & 0xff)}};
    if (year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= 31) {
        std::int32_t packed_date = 0, counted = 0;
        const bool valid = parts.ok();
        check((QMdatein(year, month, day) != 0) == valid);
        if (valid) {
            check(utdategi(&packed_date, year, month, day) == year * 10000 + month * 100 + day);
            const std::int32_t want =
                std::chrono::sys_days{parts}.time_since_epoch().count() + unix_epoch_day;
            check(utdategj(&counted, year, month, day) == want);
            check(utdateij(&counted, packed_date) == want);
        }
    }
    return 0;
}
