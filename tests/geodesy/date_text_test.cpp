// Day numbers, the date parser and the date text against std::chrono's
// proleptic Gregorian calendar for every day from 1900 to 2079.
#include "lib/geodesy/date_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

using namespace geodesy;
using namespace std::chrono;

namespace {
const sys_days kEpoch = sys_days{year{1900} / January / 1};
uint32_t Expected(year_month_day d) {
  return static_cast<uint32_t>((sys_days{d} - kEpoch).count());
}
}  // namespace

TEST(DayNumber, EveryDayAgreesWithTheCalendar) {
  const sys_days last = sys_days{year{2079} / December / 31};
  const char* months[] = {"jan", "FEB", "Mar",  "april", "may", "jun",
                          "jul", "aug", "sept", "oct",   "nov", "december"};
  int checked = 0;
  for (sys_days d = kEpoch; d <= last; d += days{1}) {
    const year_month_day ymd{d};
    const int y = static_cast<int>(ymd.year()), m = static_cast<unsigned>(ymd.month()),
              day = static_cast<unsigned>(ymd.day());
    const uint32_t want = Expected(ymd);
    DateRecord rec;
    rec.year = static_cast<int16_t>(y - 1900);
    rec.month = static_cast<int16_t>(m - 1);
    rec.day = static_cast<int16_t>(day - 1);
    ASSERT_EQ(DayNumber(rec), want) << y << "-" << m << "-" << day;

    DateRecord back;
    ASSERT_TRUE(DateFromDayNumber(want, back));
    ASSERT_EQ(back.year, rec.year);
    ASSERT_EQ(back.month, rec.month);
    ASSERT_EQ(back.day, rec.day);
    ASSERT_EQ(back.weekday, (weekday{d}.iso_encoding() + 6) % 7);

    char text[40];
    std::snprintf(text, sizeof text, "%d-%d-%d", y, m, day);
    ASSERT_EQ(ParseDate(text), want) << text;
    std::snprintf(text, sizeof text, "%d %s %02d", y - 1900, months[m - 1], day);
    ASSERT_EQ(ParseDate(text), want) << text;
    const unsigned doy =
        static_cast<unsigned>((d - sys_days{ymd.year() / January / 1}).count()) + 1;
    std::snprintf(text, sizeof text, "%d/%u", y, doy);
    ASSERT_EQ(ParseDate(text), want) << text;
    ++checked;
  }
  EXPECT_EQ(checked, 65744);
  DateRecord r;
  EXPECT_FALSE(DateFromDayNumber(65744, r));
}

TEST(ParseDate, NamedCases) {
  EXPECT_EQ(ParseDate("2021 jan 5"), ParseDate("2021/1/5"));
  EXPECT_EQ(ParseDate("2021 60"), Expected(year{2021} / March / 1));
  EXPECT_EQ(ParseDate("2020 60"), Expected(year{2020} / February / 29));
  EXPECT_EQ(ParseDate("2079 dec 31"), 65743u);  // past what 16 bits hold, not wrapped
  EXPECT_EQ(ParseDate("2079 6 6"), 65535u);
  EXPECT_EQ(ParseDate("2080 1 1"), INVALID_DAY);
  EXPECT_EQ(ParseDate("180 1 1"), INVALID_DAY);
  EXPECT_EQ(ParseDate("1899 12 31"), INVALID_DAY);
  EXPECT_EQ(ParseDate("0 1 1"), 0u);
  EXPECT_EQ(ParseDate("1900-01-01"), 0u);
}

TEST(ParseDate, RefusedTexts) {
  for (const char* t : {"", "2021", "2021 13 1", "2021 0 1", "2021 1 0", "2021 1 32", "2021 0",
                        "2021 367", "x2021 1 1", "2021 ja 1", "2021 foo 1", "2021 1 x",
                        "2021 1 1 1", "99999999999 1 1", "   "}) {
    EXPECT_EQ(ParseDate(t), INVALID_DAY) << '"' << t << '"';
  }
}

TEST(ParseDate, LenientForms) {
  EXPECT_EQ(ParseDate("  2021  --  JANUARY / 5 "), ParseDate("2021 1 5"));
  EXPECT_EQ(ParseDate("2021 feb 31"), ParseDate("2021 mar 3"));  // day not checked against month
  EXPECT_EQ(ParseDate("2021 366"), ParseDate("2022 1 1"));
  EXPECT_EQ(ParseDate("2021 1 -5"), ParseDate("2021 1 5"));  // "-" is a separator
}

TEST(DateText, FifteenCharacters) {
  DateRecord d;
  ASSERT_TRUE(DateFromDayNumber(ParseDate("2021 jan 5"), d));
  EXPECT_STREQ(DateText(d), "Tue Jan 05 2021");
  ASSERT_TRUE(DateFromDayNumber(0, d));
  char buf[DATE_TEXT_SIZE];
  EXPECT_STREQ(DateText(d, buf, sizeof buf), "Mon Jan 01 1900");
  ASSERT_TRUE(DateFromDayNumber(65743, d));
  EXPECT_STREQ(DateText(d), "Sun Dec 31 2079");
  DateRecord bad{121, 12, 31, 7};
  EXPECT_STREQ(DateText(bad, buf, sizeof buf), "??? ??? ?? 2021");
  DateRecord neg{-5, -1, -1, -1};
  EXPECT_EQ(DayNumber(neg), INVALID_DAY);
  char small[5];
  EXPECT_STREQ(DateText(d, small, sizeof small), "Sun ");
}
