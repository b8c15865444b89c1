// Packed dates, day numbers and date parts: the cores behind the C faces of calendar.h.
//
// The suite's date arithmetic is that of 32-bit signed integers that wrap modulo 2^32,
// with division truncating toward zero and the remainder taking the sign of the
// dividend. C++ division already behaves so; the only steps that can leave the 32-bit
// range are done in unsigned arithmetic and converted back, which C++20 defines as
// modular, so no input reaches undefined behaviour.
#pragma once

#include <cstdint>

namespace qmrt::calendar {

// Lengths of the months of a common year, by month number; entry 0 is not a month.
inline constexpr std::int16_t dpm[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The day number of the day before 1 March of year 0: the origin of the March-based count.
inline constexpr std::int32_t march_origin = 1721119;

struct DateParts {
    std::int16_t year;
    std::int16_t month;
    std::int16_t day;
    friend constexpr bool operator==(const DateParts &, const DateParts &) = default;
};

// Wrapping 32-bit steps.
constexpr std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr std::int32_t wrap_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
// The low 16 bits, read as signed.
constexpr std::int16_t cut16(std::int32_t value) {
    return static_cast<std::int16_t>(value);
}

// Packing never stores a year below 1.
constexpr std::int32_t floor_year(std::int16_t year) {
    return year < 1 ? 1 : year;
}

// 29 February of a leap year, by the signed year: 0, -4 and -400 count as leap years.
constexpr bool is_leap_day(std::int16_t year, std::int16_t month, std::int16_t day) {
    return day == 29 && month == 2 && year % 4 == 0 && (year % 400 == 0 || year % 100 != 0);
}

// The most the packed date can reach is 32767 * 10000 + 32767 * 100 + 32767, inside 32 bits.
constexpr std::int32_t parts_to_packed(std::int16_t year, std::int16_t month, std::int16_t day) {
    return floor_year(year) * 10000 + month * 100 + day;
}

// The conversions step by step: the year taken from March, the day counted from the
// Julian epoch with integer division truncating toward zero, every intermediate in
// 32-bit arithmetic. They define every result; the forms below are faster and give the
// same results where they apply.
namespace steps {

// The day number of the parts once the year starts in March, in the integer type `Int`
// as for parts_of_day_count. Every term stays far inside 32 bits for any 16-bit parts.
template <typename Int>
constexpr std::int32_t day_number_of_march_year(Int y, Int m, std::int32_t day) {
    Int century = y / 100;
    Int year_of_century = y % 100;
    return day +
           static_cast<std::int32_t>((153 * m + 2) / 5 + (1461 * year_of_century) / 4 +
                                     (146097 * century) / 4) +
           march_origin;
}

constexpr std::int32_t parts_to_day_number(std::int16_t year, std::int16_t month,
                                           std::int16_t day) {
    std::int32_t y = floor_year(year);  // at least 1, so y below is never negative
    std::int32_t m = month;
    if (m <= 2) {
        m += 9;
        y -= 1;
    } else {
        m -= 3;
    }
    if (m >= 0)
        return day_number_of_march_year(static_cast<std::uint32_t>(y),
                                        static_cast<std::uint32_t>(m), day);
    return day_number_of_march_year(y, m, day);
}

// The year wraps to 16 bits before the floor, as in a packed date of year 40000.
template <typename Int>
constexpr std::int32_t day_number_of_packed(Int packed) {
    return parts_to_day_number(cut16(static_cast<std::int32_t>(packed / 10000)),
                               cut16(static_cast<std::int32_t>(packed % 10000 / 100)),
                               cut16(static_cast<std::int32_t>(packed % 100)));
}

constexpr std::int32_t packed_to_day_number(std::int32_t packed) {
    return packed >= 0 ? day_number_of_packed(static_cast<std::uint32_t>(packed))
                       : day_number_of_packed(packed);
}

// The steps from a shifted day count to the parts, in the integer type `Int`: unsigned
// when the count is not negative (every step then stays non-negative and unsigned
// division by a constant is the cheaper), signed otherwise, where division truncates
// toward zero.
template <typename Int>
constexpr DateParts parts_of_day_count(Int k) {
    Int quad_century = k / 146097;
    Int r = k % 146097;
    Int t = 4 * (r / 4) + 3;
    Int year_of_century = t / 1461;
    Int g = (t % 1461 + 4) / 4;
    Int h = 5 * g - 3;
    Int n = h / 153;
    Int day = (h % 153 + 5) / 5;
    Int year = 100 * quad_century + year_of_century;
    Int month;
    if (n >= 10) {
        month = n - 9;
        year += 1;
    } else {
        month = n + 3;
    }
    return {cut16(static_cast<std::int32_t>(year)), cut16(static_cast<std::int32_t>(month)),
            cut16(static_cast<std::int32_t>(day))};
}

// No year floor here: days before year 1 come back with year 0 or below.
constexpr DateParts day_number_to_parts(std::int32_t day_number) {
    std::int32_t k = wrap_add(wrap_mul(4, day_number), -(4 * march_origin + 1));
    return k >= 0 ? parts_of_day_count(static_cast<std::uint32_t>(k)) : parts_of_day_count(k);
}

constexpr std::int32_t day_number_to_packed(std::int32_t day_number) {
    DateParts parts = day_number_to_parts(day_number);
    return parts_to_packed(parts.year, parts.month, parts.day);
}

}  // namespace steps

// The first and last day numbers of the valid domain: 1 January of year 1 and
// 31 December 32767.
inline constexpr std::int32_t first_day = 1721426;
inline constexpr std::int32_t last_day = 13689325;

// Inside the valid domain the conversions take the Euclidean affine forms of the
// calendar (divisions by constants replaced by multiplications and shifts, with every
// value non-negative), which give exactly what the steps give there and cost fewer and
// cheaper operations. Everything else goes through the steps.
namespace affine {

// Days since 1 March of year 0 to year, March-based month (3 to 14) and day.
struct MarchDate {
    std::uint32_t year, month, day;
    bool january_or_february;
};

constexpr MarchDate march_date(std::uint32_t days) {
    const std::uint32_t n = 4 * days + 3;
    const std::uint32_t century = n / 146097;
    // 4 * (day of the century) + 3
    const std::uint32_t in_century = n % 146097 | 3;
    // 2939745 / 2^32 is 1 / 1461 closely enough to split in_century into the year of the
    // century (the high half) and four times the day of the year (the low half).
    const std::uint64_t split = std::uint64_t{2939745} * in_century;
    const auto year_of_century = static_cast<std::uint32_t>(split >> 32);
    const std::uint32_t day_of_year = static_cast<std::uint32_t>(split) / (2939745 * 4);
    // 2141 / 2^16 steps through the months of 153 days in five.
    const std::uint32_t month_day = 2141 * day_of_year + 197913;
    return {100 * century + year_of_century, month_day >> 16, (month_day & 0xffff) / 2141 + 1,
            day_of_year >= 306};
}

constexpr bool in_domain(std::int32_t day_number) {
    return static_cast<std::uint32_t>(day_number) - std::uint32_t{first_day} <=
           std::uint32_t{last_day - first_day};
}

constexpr DateParts parts(std::int32_t day_number) {
    const MarchDate d = march_date(static_cast<std::uint32_t>(day_number - march_origin - 1));
    return {static_cast<std::int16_t>(d.year + d.january_or_february),
            static_cast<std::int16_t>(d.january_or_february ? d.month - 12 : d.month),
            static_cast<std::int16_t>(d.day)};
}

constexpr std::int32_t packed(std::int32_t day_number) {
    const MarchDate d = march_date(static_cast<std::uint32_t>(day_number - march_origin - 1));
    // January and February belong to the next year: + 1 year - 12 months.
    return static_cast<std::int32_t>(d.year * 10000 + d.month * 100 + d.day +
                                     (d.january_or_february ? 10000 - 1200 : 0));
}

// Year 1 to 32767 (no floor, no cut), month 1 to 12 and any day, which is only added.
constexpr bool takes(std::int32_t year, std::int32_t month) {
    return year >= 1 && year <= 32767 && month >= 1 && month <= 12;
}

constexpr std::int32_t day_number(std::uint32_t year, std::uint32_t month, std::int32_t day) {
    const bool january_or_february = month <= 2;
    const std::uint32_t y = year - january_or_february;
    const std::uint32_t m = january_or_february ? month + 12 : month;
    const std::uint32_t century = y / 100;
    return static_cast<std::int32_t>(1461 * y / 4 - century + century / 4 + (979 * m - 2919) / 32) +
           day + march_origin;
}

}  // namespace affine

constexpr std::int32_t parts_to_day_number(std::int16_t year, std::int16_t month,
                                           std::int16_t day) {
    if (affine::takes(year, month))
        return affine::day_number(static_cast<std::uint32_t>(year),
                                  static_cast<std::uint32_t>(month), day);
    return steps::parts_to_day_number(year, month, day);
}

constexpr std::int32_t packed_to_day_number(std::int32_t packed) {
    // Years 1 to 32767, where neither the floor nor the cut applies; then months 1 to 12.
    const auto p = static_cast<std::uint32_t>(packed);
    if (p - 10000 <= 327679999 - 10000) {
        const std::uint32_t year = p / 10000, month_day = p - year * 10000;
        const std::uint32_t month = month_day / 100;
        if (month - 1 <= 11)
            return affine::day_number(year, month,
                                      static_cast<std::int32_t>(month_day - month * 100));
    }
    return steps::packed_to_day_number(packed);
}

constexpr DateParts day_number_to_parts(std::int32_t day_number) {
    return affine::in_domain(day_number) ? affine::parts(day_number)
                                         : steps::day_number_to_parts(day_number);
}

constexpr std::int32_t day_number_to_packed(std::int32_t day_number) {
    return affine::in_domain(day_number) ? affine::packed(day_number)
                                         : steps::day_number_to_packed(day_number);
}

constexpr std::int32_t shift_day_number(std::int32_t day_number, std::int32_t days) {
    return wrap_add(day_number, days);
}

constexpr std::int32_t shift_packed(std::int32_t packed, std::int32_t days) {
    return day_number_to_packed(shift_day_number(packed_to_day_number(packed), days));
}

// The packed date of a valid date, 0 for a rejected one; any year passes, and packs floored.
constexpr std::int32_t validate_and_pack(std::int16_t year, std::int16_t month, std::int16_t day) {
    if (month < 1 || month > 12) return 0;
    bool valid = (day >= 1 && day <= dpm[month]) || is_leap_day(year, month, day);
    return valid ? parts_to_packed(year, month, day) : 0;
}

// Dates whose conversions operators know by heart, and the ends of the range, checked
// when the library is built.
static_assert(parts_to_day_number(2024, 2, 29) == 2460370);
static_assert(day_number_to_parts(2460370) == DateParts{2024, 2, 29});
static_assert(shift_packed(20231231, 1) == 20240101);
static_assert(packed_to_day_number(99991231) == 5373484);
static_assert(day_number_to_parts(0) == DateParts{-4712, 0, -1});
static_assert(day_number_to_packed(13689326) == 10101);
static_assert(shift_day_number(INT32_MAX, 1) == INT32_MIN);

}  // namespace qmrt::calendar
