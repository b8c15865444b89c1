#include "calendar/dates.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include "qmrt/calendar.h"

namespace qmrt::test {
namespace {

namespace chr = std::chrono;

// The day number of 1 January 1970, where sys_days counts from.
constexpr int32_t unix_epoch_day_number = 2440588;

// Every day of the valid domain, against std::chrono: packed date and parts from the day
// number, and the day number back from the packed date.
TEST(Dates, EveryDayOfTheValidDomainAgreesWithChrono) {
    const chr::sys_days first = chr::year{1} / chr::January / 1;
    const chr::sys_days last = chr::year{32767} / chr::December / 31;
    ASSERT_EQ(first.time_since_epoch().count() + unix_epoch_day_number, 1721426);
    ASSERT_EQ(last.time_since_epoch().count() + unix_epoch_day_number, 13689325);

    long mismatches = 0;
    std::string first_mismatch;
    for (chr::sys_days day = first; day <= last; day += chr::days{1}) {
        const chr::year_month_day date{day};
        const int32_t number = day.time_since_epoch().count() + unix_epoch_day_number;
        const int y = int{date.year()};
        const int m = static_cast<int>(unsigned{date.month()});
        const int d = static_cast<int>(unsigned{date.day()});
        const int32_t packed = y * 10000 + m * 100 + d;

        int32_t to_packed = 0, back = 0;
        int16_t py = 0, pm = 0, pd = 0;
        const int32_t ji = utdateji(&to_packed, number);
        const int32_t ij = utdateij(&back, packed);
        const int32_t jg = utdatejg(number, &py, &pm, &pd);
        if (ji != packed || to_packed != packed || ij != number || back != number || jg != 0 ||
            py != y || pm != m || pd != d) {
            if (mismatches++ == 0) {
                first_mismatch = "day number " + std::to_string(number) + " packed " +
                                 std::to_string(packed) + ": utdateji " + std::to_string(ji) +
                                 ", utdateij " + std::to_string(ij) + ", utdatejg " +
                                 std::to_string(py) + "-" + std::to_string(pm) + "-" +
                                 std::to_string(pd);
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << first_mismatch;
}

// The conversions take shorter forms where the arguments allow them; at and around the
// edges of where they do, the results are those of the steps as written: every day
// number of the domain and a few beyond it, and packed dates and parts of every year
// with months and days in and out of the calendar.
TEST(Dates, ShortFormsGiveWhatTheStepsGive) {
    namespace cal = qmrt::calendar;
    long mismatches = 0;
    for (int32_t j = cal::first_day - 400; j <= cal::last_day + 400; ++j)
        mismatches += cal::day_number_to_packed(j) != cal::steps::day_number_to_packed(j) ||
                      !(cal::day_number_to_parts(j) == cal::steps::day_number_to_parts(j));
    EXPECT_EQ(mismatches, 0) << "day numbers";
    for (int32_t y = -2; y <= 32768; ++y)
        for (int32_t m : {-1, 0, 1, 2, 3, 11, 12, 13, 99})
            for (int32_t d : {-1, 0, 1, 28, 29, 31, 99}) {
                const auto p = static_cast<int32_t>(int64_t{y} * 10000 + m * 100 + d);
                const auto py = static_cast<int16_t>(y), pm = static_cast<int16_t>(m),
                           pd = static_cast<int16_t>(d);
                mismatches += cal::packed_to_day_number(p) != cal::steps::packed_to_day_number(p) ||
                              cal::parts_to_day_number(py, pm, pd) !=
                                  cal::steps::parts_to_day_number(py, pm, pd);
            }
    EXPECT_EQ(mismatches, 0) << "packed dates and parts";
}

// Validation and the leap test against std::chrono, including the months and days
// around the calendar's ends.
TEST(Dates, DateinAndLeapyrAgreeWithChrono) {
    for (int y = 1; y <= 2800; ++y) {
        for (int m = -1; m <= 13; ++m) {
            for (int d = -1; d <= 32; ++d) {
                const bool valid = m >= 1 && m <= 12 && d >= 1 &&
                                   chr::year_month_day{chr::year{y}, chr::month{unsigned(m)},
                                                       chr::day{unsigned(d)}}
                                       .ok();
                const auto y16 = static_cast<int16_t>(y), m16 = static_cast<int16_t>(m),
                           d16 = static_cast<int16_t>(d);
                ASSERT_EQ(QMdatein(y16, m16, d16), valid ? y * 10000 + m * 100 + d : 0)
                    << y << "-" << m << "-" << d;
                ASSERT_EQ(QMleapyr(y16, m16, d16), valid && m == 2 && d == 29 ? 1 : 0)
                    << y << "-" << m << "-" << d;
            }
        }
    }
}

struct PartsCase {
    int16_t year, month, day;
    int32_t expected;
};

TEST(Dates, PartsToDayNumber) {
    const PartsCase cases[] = {
        {2024, 2, 29, 2460370},    {2000, 1, 1, 2451545},
        {1, 1, 1, 1721426},        {0, 1, 1, 1721426},      // year floor
        {-7, 1, 1, 1721426},       {2024, 0, 15, 2460294},  // month 0: December before
        {32767, 12, 31, 13689325},
    };
    for (const auto &c : cases) {
        int32_t out = 0;
        EXPECT_EQ(utdategj(&out, c.year, c.month, c.day), c.expected) << c.year << "-" << c.month;
        EXPECT_EQ(out, c.expected);
    }
}

TEST(Dates, PartsToPacked) {
    const PartsCase cases[] = {
        {2024, 2, 29, 20240229},
        {2024, 2, 30, 20240230},  // unchecked day
        {0, 5, 6, 10506},
        {-32768, 1, 1, 10101},
        {static_cast<int16_t>(40000), 1, 1, 10101},  // 40000 is -25536 in 16 bits
        {2024, -1, -1, 20239899},
    };
    for (const auto &c : cases) {
        int32_t out = 0;
        EXPECT_EQ(utdategi(&out, c.year, c.month, c.day), c.expected) << c.year << "-" << c.month;
        EXPECT_EQ(out, c.expected);
    }
}

// Years 1 to 2800 are checked against std::chrono above; these are the years below the
// domain, which the leap rule takes as signed and packing floors to 1.
TEST(Dates, DateinAndLeapyrBelowYearOne) {
    const PartsCase cases[] = {
        {0, 2, 29, 10229}, {-4, 2, 29, 10229}, {-400, 2, 29, 10229}, {-100, 2, 29, 0},
        {-5, 2, 29, 0},    {-5, 1, 1, 10101},  {-5, 13, 1, 0},       {-32768, 2, 29, 10229},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(QMdatein(c.year, c.month, c.day), c.expected) << c.year << "-" << c.month;
        EXPECT_EQ(QMleapyr(c.year, c.month, c.day), c.day == 29 && c.expected != 0 ? 1 : 0)
            << c.year;
    }
}

struct NumberCase {
    int32_t input;
    int32_t expected;
};

TEST(Dates, PackedToDayNumber) {
    const NumberCase cases[] = {
        {20240229, 2460370},  {99991231, 5373484}, {20240230, 2460371},  // runs on into 1 March
        {20241301, 2460677},   // month 13: January of the next year
        {20240100, 2460310},   // day 0: the last day of the month before
        {400000101, 1721426},  // year 40000 wraps to 16 bits, then the floor
        {10101, 1721426},     {0, 1721394},
    };
    for (const auto &c : cases) {
        int32_t out = 0;
        EXPECT_EQ(utdateij(&out, c.input), c.expected) << c.input;
        EXPECT_EQ(out, c.expected);
    }
}

TEST(Dates, DayNumberToPacked) {
    const NumberCase cases[] = {
        {2460370, 20240229}, {1721426, 10101},
        {1721425, 11231},    {1721394, 11130},  // year 0, floored when packed
        {0, 9999},           {13689325, 327671231},
        {13689326, 10101},  // year 32768 wraps to -32768, then the floor
    };
    for (const auto &c : cases) {
        int32_t out = 0;
        EXPECT_EQ(utdateji(&out, c.input), c.expected) << c.input;
        EXPECT_EQ(out, c.expected);
    }
}

TEST(Dates, DayNumberToParts) {
    struct Case {
        int32_t number;
        int16_t year, month, day;
    };
    const Case cases[] = {
        {2460370, 2024, 2, 29}, {1721425, 0, 12, 31},
        {1721119, 0, 3, 1},     {1721120, 0, 3, 1},  // truncation toward zero
        {0, -4712, 0, -1},      {13689326, -32768, 1, 1},
    };
    for (const auto &c : cases) {
        int16_t y = 7, m = 7, d = 7;
        EXPECT_EQ(utdatejg(c.number, &y, &m, &d), 0);
        EXPECT_EQ(y, c.year) << c.number;
        EXPECT_EQ(m, c.month) << c.number;
        EXPECT_EQ(d, c.day) << c.number;
    }
}

struct ShiftCase {
    int32_t from, days, expected;
};

TEST(Dates, ShiftPackedDate) {
    const ShiftCase cases[] = {
        {20231231, 1, 20240101},   {20240101, -1, 20231231}, {20240229, 365, 20250228},
        {20240229, 366, 20250301}, {20240228, 1, 20240229},  {20230228, 1, 20230301},
        {19000228, 1, 19000301},   {20000228, 1, 20000229},  {20240315, 0, 20240315},
    };
    for (const auto &c : cases) {
        int32_t out = 0;
        EXPECT_EQ(utdateni(&out, c.from, c.days), c.expected) << c.from << " + " << c.days;
        EXPECT_EQ(out, c.expected);
    }
}

TEST(Dates, ShiftDayNumberWraps) {
    const ShiftCase cases[] = {
        {INT32_MAX, 1, INT32_MIN},
        {INT32_MIN, -1, INT32_MAX},
        {INT32_MIN, INT32_MIN, 0},
    };
    for (const auto &c : cases) {
        int32_t out = 0;
        EXPECT_EQ(utdatenj(&out, c.from, c.days), c.expected) << c.from << " + " << c.days;
        EXPECT_EQ(out, c.expected);
    }
}

// Every function over the extremes of its argument types: under the sanitizers any
// overflow or bad shift aborts the test. Results only need to agree with the out cells.
TEST(Dates, ExtremeInputsStayDefined) {
    const int16_t shorts[] = {INT16_MIN, INT16_MIN + 1, -1, 0, 1, 2, 12, 13, 29, INT16_MAX};
    const int32_t ints[] = {INT32_MIN, INT32_MIN + 1, -1721426,      -1,       0, 1, 1721425,
                            13689326,  99999999,      INT32_MAX - 1, INT32_MAX};
    for (int16_t y : shorts) {
        for (int16_t m : shorts) {
            for (int16_t d : shorts) {
                int32_t out = 0;
                EXPECT_EQ(utdategi(&out, y, m, d), out);
                EXPECT_EQ(utdategj(&out, y, m, d), out);
                int32_t packed = QMdatein(y, m, d);
                EXPECT_TRUE(packed == 0 || packed >= 10101);
                EXPECT_LE(QMleapyr(y, m, d), 1);
            }
        }
    }
    for (int32_t a : ints) {
        int32_t out = 0;
        int16_t y, m, d;
        EXPECT_EQ(utdateij(&out, a), out);
        EXPECT_EQ(utdateji(&out, a), out);
        EXPECT_EQ(utdatejg(a, &y, &m, &d), 0);
        for (int32_t b : ints) {
            EXPECT_EQ(utdatenj(&out, a, b), out);
            EXPECT_EQ(utdateni(&out, a, b), out);
        }
    }
}

}  // namespace
}  // namespace qmrt::test
