// JULIAN and GREGORIAN: known values, how out-of-range months and days roll
// over, and both routines against an independent day count over their range.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

#include "gregorian_calendar.h"

namespace {

using tarvello::GREGORIAN;
using tarvello::JULIAN;
using Date = std::tuple<std::int32_t, std::int32_t, std::int32_t>;

Date gregorian(std::int32_t jday) {
  std::int32_t y = -1, m = -1, d = -1;
  GREGORIAN(jday, y, m, d);
  return {y, m, d};
}

// Days since 1 January 1970 of a proleptic Gregorian date, in 64-bit
// arithmetic by the era method (eras of 400 years counted from 1 March): a
// different algorithm from the routines under test.
std::int64_t days_from_civil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Date civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int32_t>(yoe + era * 400 + (m <= 2)), static_cast<std::int32_t>(m),
          static_cast<std::int32_t>(d)};
}

constexpr std::int64_t kJulianOfUnixEpoch = 2440588;
constexpr std::int32_t kFirstExactDay = -32044;     // 1 March -4800
constexpr std::int32_t kLastInverseDay = 536802342; // 17 October 1465002

// Each row: JULIAN(year, month, day) gives jday (for the GREGORIAN rows the
// call is not made), and GREGORIAN(jday) gives the date of the result.
struct CalendarRow {
  bool julian_call;
  std::int32_t year, month, day;
  std::int32_t jday;
  Date result;
};

const CalendarRow kCalendarTable[] = {
    {true, 2000, 1, 1, 2451545, {2000, 1, 1}},
    {true, 1999, 12, 31, 2451544, {1999, 12, 31}},
    {true, 1970, 1, 1, 2440588, {1970, 1, 1}},
    {true, 2024, 1, 19, 2460329, {2024, 1, 19}},
    {true, 2024, 2, 29, 2460370, {2024, 2, 29}},
    {true, 2024, 3, 1, 2460371, {2024, 3, 1}},
    {true, -4713, 11, 24, 0, {-4713, 11, 24}},
    {true, 2001, 1, 0, 2451910, {2000, 12, 31}},
    {true, 2001, 1, -1, 2451909, {2000, 12, 30}},
    {true, 2001, 1, 32, 2451942, {2001, 2, 1}},
    {true, 2001, 2, 30, 2451971, {2001, 3, 2}},
    {true, 2000, 2, 30, 2451605, {2000, 3, 1}},
    {true, 2001, 13, 1, 2452276, {2002, 1, 1}},
    {true, 2001, 14, 1, 2452307, {2002, 2, 1}},
    {true, 2001, 0, 1, 2451880, {2000, 12, 1}},
    {true, 2001, -11, 1, 2451545, {2000, 1, 1}},
    {true, 2001, 15, 1, 2452337, {2002, 3, 3}},  // not 1 March
    {true, 2001, 26, 1, 2452672, {2003, 2, 1}},
    {true, -4800, 3, 1, -32044, {-4800, 3, 1}},
    // Before 1 March -4800 the year term truncates upward: no longer a day count.
    {true, -4800, 2, 29, -32044, {-4800, 3, 1}},
    {false, 0, 0, 0, 2451545, {2000, 1, 1}},
    {false, 0, 0, 0, 0, {-4713, 11, 24}},
    {false, 0, 0, 0, 2452337, {2002, 3, 3}},
    {false, 0, 0, 0, -68569, {-4900, 3, 1}},
    {false, 0, 0, 0, 536802342, {1465002, 10, 17}},
    // Below -68569 the century term truncates upward.
    {false, 0, 0, 0, -68570, {-4900, 2, 30}},
};

TEST(Calendar, TableOfValues) {
  for (const CalendarRow& row : kCalendarTable) {
    SCOPED_TRACE(testing::Message() << (row.julian_call ? "JULIAN(" : "GREGORIAN(") << row.year << ", "
                                    << row.month << ", " << row.day << ") jday " << row.jday);
    if (row.julian_call) {
      EXPECT_EQ(JULIAN(row.year, row.month, row.day), row.jday);
    }
    EXPECT_EQ(gregorian(row.jday), row.result);
  }
}

TEST(Calendar, DayIsOnlyAnAddend) {
  const std::int32_t years[] = {-4000, -1, 0, 1900, 2000, 2023, 2024, 2100, 9999};
  for (std::int32_t y : years) {
    for (std::int32_t m = 1; m <= 12; ++m) {
      const std::int32_t first = JULIAN(y, m, 1);
      for (std::int32_t d = -800; d <= 800; ++d) {
        ASSERT_EQ(JULIAN(y, m, d), first + d - 1) << y << "-" << m << "-" << d;
      }
    }
  }
}

// A month up to 14 carries exactly into the neighbouring years: 13 is January
// of the next year, 0 December and -11 January of the year before, and so on.
TEST(Calendar, MonthsUpTo14CarryExactly) {
  for (std::int32_t y = -4700; y <= 9999; y += 7) {
    for (std::int32_t m = -47; m <= 14; ++m) {
      const std::int32_t carried_year = y + (m >= 1 ? (m - 1) / 12 : -((12 - m) / 12));
      const std::int32_t carried_month = ((m - 1) % 12 + 12) % 12 + 1;
      for (std::int32_t d : {1, 15, 28}) {
        ASSERT_EQ(JULIAN(y, m, d), JULIAN(carried_year, carried_month, d))
            << y << "-" << m << "-" << d << " vs " << carried_year << "-" << carried_month;
      }
    }
  }
  EXPECT_EQ(JULIAN(2001, 13, 1), JULIAN(2002, 1, 1));
  EXPECT_EQ(JULIAN(2001, 14, 1), JULIAN(2002, 2, 1));
  EXPECT_EQ(JULIAN(2001, 0, 1), JULIAN(2000, 12, 1));
  EXPECT_EQ(JULIAN(2001, -11, 1), JULIAN(2000, 1, 1));
  EXPECT_EQ(JULIAN(2001, -12, 1), JULIAN(1999, 12, 1));
}

// From 15 on a month lands one or two days after the carried date, except
// 26, 38, 50 and so on (February of a later year), which carry exactly.
TEST(Calendar, MonthsFrom15LandLate) {
  for (std::int32_t y = -4700; y <= 9999; y += 13) {
    for (std::int32_t m = 15; m <= 62; ++m) {
      const std::int32_t carried = JULIAN(y + (m - 1) / 12, (m - 1) % 12 + 1, 1);
      const std::int32_t late = JULIAN(y, m, 1) - carried;
      if ((m - 2) % 12 == 0) {
        ASSERT_EQ(late, 0) << y << "-" << m;
      } else {
        ASSERT_TRUE(late == 1 || late == 2) << y << "-" << m << " lands " << late << " days late";
      }
    }
  }
  EXPECT_EQ(JULIAN(2001, 15, 1) - JULIAN(2002, 3, 1), 2);
  EXPECT_EQ(JULIAN(2001, 26, 1), JULIAN(2003, 2, 1));
}

// Every day from 1 March -4800 to the year 10000, and a sample of the rest of
// the range, against the independent day count, both ways.
TEST(Calendar, RoundTripsAgainstAnIndependentDayCount) {
  auto check = [](std::int32_t jday) {
    const Date date = civil_from_days(jday - kJulianOfUnixEpoch);
    const auto [y, m, d] = date;
    ASSERT_EQ(days_from_civil(y, m, d) + kJulianOfUnixEpoch, jday);
    ASSERT_EQ(gregorian(jday), date) << "GREGORIAN(" << jday << ")";
    ASSERT_EQ(JULIAN(y, m, d), jday) << "JULIAN(" << y << ", " << m << ", " << d << ")";
  };
  const std::int32_t year_10000 = static_cast<std::int32_t>(days_from_civil(10000, 1, 1) + kJulianOfUnixEpoch);
  for (std::int32_t jday = kFirstExactDay; jday <= year_10000; ++jday) {
    check(jday);
    if (HasFatalFailure()) return;
  }
  for (std::int32_t jday = year_10000; jday <= kLastInverseDay - 997; jday += 997) {
    check(jday);
    if (HasFatalFailure()) return;
  }
  for (std::int32_t jday = kLastInverseDay - 5000; jday <= kLastInverseDay; ++jday) {
    check(jday);
    if (HasFatalFailure()) return;
  }
}

// JDAY is read before any output is written, so one variable may serve as
// the day number and as an output.
TEST(Calendar, GregorianOutputMayAliasItsInput) {
  std::int32_t y = 2452337, m = 0, d = 0;
  GREGORIAN(y, y, m, d);
  EXPECT_EQ(Date(y, m, d), Date(2002, 3, 3));
  std::int32_t day = 2460329, year = 0, month = 0;
  GREGORIAN(day, year, month, day);
  EXPECT_EQ(Date(year, month, day), Date(2024, 1, 19));
}

}  // namespace
