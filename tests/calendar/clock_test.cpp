#include "calendar/clock.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include "qmrt/calendar.h"

namespace qmrt::test {
namespace {

namespace chr = std::chrono;
using qmrt::calendar::set_clock_source;

// The instants the clock source hands out: the first reading, then every later one.
std::time_t first_reading;
std::time_t later_readings;
int readings;

std::time_t fixed_clock() {
    return readings++ == 0 ? first_reading : later_readings;
}

std::time_t at(chr::year_month_day date, int hour, int minute, int second) {
    // In seconds: system_clock counts nanoseconds, too narrow for year 10000.
    chr::sys_seconds instant =
        chr::sys_days{date} + chr::hours{hour} + chr::minutes{minute} + chr::seconds{second};
    return static_cast<std::time_t>(instant.time_since_epoch().count());
}

constexpr char marker = '\x7f';

// The clock stopped at a chosen instant, in a chosen time zone.
class Clock : public testing::Test {
protected:
    void SetUp() override {
        if (const char *tz = std::getenv("TZ")) saved_tz_ = tz;
        use_zone("UTC");
        set_clock_source(fixed_clock);
        stop_at(at(chr::year{2024} / 2 / 15, 21, 7, 9));  // a Thursday
    }
    void TearDown() override {
        set_clock_source(nullptr);
        if (saved_tz_)
            setenv("TZ", saved_tz_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void use_zone(const char *zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    static void stop_at(std::time_t instant) {
        first_reading = later_readings = instant;
        readings = 0;
    }
    // The text QM_TODAY writes, checking that it returns 0 and that the bytes past its
    // terminator are untouched; written receives the count of bytes written.
    static std::string today(int16_t format, std::size_t &written) {
        char buffer[48];
        std::memset(buffer, marker, sizeof buffer);
        EXPECT_EQ(QM_TODAY(buffer, format), 0);
        written = 0;
        while (written < sizeof buffer && buffer[written] != marker) ++written;
        for (std::size_t i = written; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], marker) << i;
        if (written == 0) return {};
        EXPECT_EQ(buffer[written - 1], '\0') << "format " << format;
        return std::string(buffer, written - 1);
    }
    static std::string today(int16_t format) {
        std::size_t written;
        return today(format, written);
    }

private:
    std::optional<std::string> saved_tz_;
};

TEST_F(Clock, EveryLayoutWithItsExactByteCount) {
    const struct {
        int16_t format;
        const char *text;
        std::size_t bytes;
    } cases[] = {
        {0, "02152024", 9},          {1, "09:07:09", 9},    {2, "15/02/2024 21:07:09", 20},
        {3, "Thu Feb 15", 11},       {4, "02/15/2024", 11}, {5, "15022024", 9},
        {6, "Thu Feb 15 21:07", 17}, {7, "15022024", 9},    {8, "2024-02-15", 11},
    };
    for (const auto &c : cases) {
        std::size_t written;
        EXPECT_EQ(today(c.format, written), c.text) << "format " << c.format;
        EXPECT_EQ(written, c.bytes) << "format " << c.format;
    }
}

TEST_F(Clock, TwelveHourFoldOnlyInFormatOne) {
    const struct {
        int hour, minute, second;
        const char *folded, *full;
    } cases[] = {
        {0, 15, 0, "00:15:00", "15/02/2024 00:15:00"},
        {12, 30, 45, "12:30:45", "15/02/2024 12:30:45"},
        {13, 5, 9, "01:05:09", "15/02/2024 13:05:09"},
        {23, 59, 59, "11:59:59", "15/02/2024 23:59:59"},
    };
    for (const auto &c : cases) {
        stop_at(at(chr::year{2024} / 2 / 15, c.hour, c.minute, c.second));
        EXPECT_EQ(today(1), c.folded);
        EXPECT_EQ(today(2), c.full);
    }
}

// 20:22:05 UTC on Monday 7 December 2026 is already 03:22 on Tuesday in Jakarta (UTC+7).
TEST_F(Clock, TextsFollowTheLocalTimeZone) {
    stop_at(at(chr::year{2026} / 12 / 7, 20, 22, 5));
    EXPECT_EQ(today(3), "Mon Dec  7");
    EXPECT_EQ(today(6), "Mon Dec  7 20:22");
    EXPECT_EQ(today(8), "2026-12-07");
    use_zone("Asia/Jakarta");
    EXPECT_EQ(today(3), "Tue Dec  8");
    EXPECT_EQ(today(6), "Tue Dec  8 03:22");
    EXPECT_EQ(today(8), "2026-12-08");
    EXPECT_EQ(today(1), "03:22:05");
}

TEST_F(Clock, FormatsOutsideTheLayoutsWriteNothing) {
    for (int16_t format :
         {int16_t{9}, int16_t{255}, int16_t{-1}, std::numeric_limits<int16_t>::min(),
          std::numeric_limits<int16_t>::max()}) {
        std::size_t written;
        today(format, written);
        EXPECT_EQ(written, 0u) << "format " << format;
    }
}

// A call made across midnight: the clock moves on between readings, the text must not.
TEST_F(Clock, OneReadingPerCall) {
    stop_at(at(chr::year{2023} / 12 / 31, 23, 59, 59));
    later_readings = at(chr::year{2024} / 1 / 1, 0, 0, 0);
    EXPECT_EQ(today(2), "31/12/2023 23:59:59");
    EXPECT_EQ(readings, 1);
    readings = 0;
    EXPECT_EQ(today(6), "Sun Dec 31 23:59");
    EXPECT_EQ(readings, 1);
    readings = 0;
    EXPECT_EQ(QM_SYSTIME(), 335959);
    EXPECT_EQ(readings, 1);
    readings = 0;
    EXPECT_EQ(QM_SYSDATE(), 0);
    EXPECT_EQ(readings, 1);
}

TEST_F(Clock, TimeOfDayAndSecondCell) {
    const struct {
        int hour, minute, second;
        int32_t expected;
    } cases[] = {{0, 0, 0, 100000}, {9, 5, 3, 190503}, {23, 59, 59, 335959}};
    for (const auto &c : cases) {
        stop_at(at(chr::year{2024} / 2 / 15, c.hour, c.minute, c.second));
        g_timesec = -1;
        EXPECT_EQ(QM_SYSTIME(), c.expected);
        EXPECT_EQ(g_timesec, c.second);
        g_timesec = -1;
        EXPECT_EQ(uttimesi(), c.expected);
        EXPECT_EQ(g_timesec, c.second);
    }
    stop_at(at(chr::year{2024} / 2 / 15, 9, 5, 41));
    EXPECT_TRUE(qmrt::calendar::store_current_second());
    EXPECT_EQ(g_timesec, 41);
}

std::time_t unreadable_clock() {
    return static_cast<std::time_t>(-1);
}
// So far in the future that localtime cannot break it down.
std::time_t beyond_localtime() {
    return std::numeric_limits<std::time_t>::max();
}

TEST_F(Clock, FailedReadingWritesNothingAndKeepsTheSecond) {
    for (auto source : {unreadable_clock, beyond_localtime}) {
        set_clock_source(source);
        for (int16_t format = 0; format <= 8; ++format) {
            std::size_t written;
            today(format, written);
            EXPECT_EQ(written, 0u) << "format " << format;
        }
        g_timesec = 42;
        EXPECT_EQ(QM_SYSTIME(), 0);
        EXPECT_EQ(uttimesi(), 0);
        EXPECT_FALSE(qmrt::calendar::store_current_second());
        EXPECT_EQ(g_timesec, 42);
        EXPECT_EQ(QM_SYSDATE(), 0);
    }
}

// A year without four digits makes longer or shorter texts: each is written when it fits
// the 20 bytes callers provide, and only code 2 with a five-digit year does not.
TEST_F(Clock, YearsWithoutFourDigitsWriteEveryTextThatFits) {
    // Codes 0, 1, 2, 4, 5, 7 and 8, each text or "" for none written.
    using Texts = std::array<const char *, 7>;
    const std::pair<int, Texts> cases[] = {
        {10000,
         {"010110000", "01:04:05", "", "01/01/10000", "010110000", "010110000", "10000-01-01"}},
        {-1,
         {"0101-001", "01:04:05", "01/01/-001 13:04:05", "01/01/-001", "0101-001", "0101-001",
          "-001-01-01"}},
    };
    const int16_t formats[] = {0, 1, 2, 4, 5, 7, 8};
    for (const auto &[year, texts] : cases) {
        stop_at(at(chr::year{year} / 1 / 1, 13, 4, 5));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const std::string text = texts[i];
            std::size_t written;
            EXPECT_EQ(today(formats[i], written), text) << year << " format " << formats[i];
            EXPECT_EQ(written, text.empty() ? 0u : text.size() + 1) << year;
        }
        EXPECT_EQ(QM_SYSTIME(), 230405);
    }
}

TEST(SystemClock, ReadsTheRealClock) {
    set_clock_source(nullptr);
    char text[20];
    EXPECT_EQ(QM_TODAY(text, 8), 0);
    EXPECT_THAT(text, testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}"));
    int32_t now = QM_SYSTIME();
    EXPECT_GE(now, 100000);
    EXPECT_LE(now, 335960);
    EXPECT_EQ(now % 100, g_timesec);
}

}  // namespace
}  // namespace qmrt::test
