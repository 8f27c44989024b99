// Day numbers, date texts and the date parser.
//
// The day number counts 365 days a year, one leap day for every fourth year
// from 1904 before the given year, and the days before the month (from the
// leap table in a leap year). The reverse estimates the year from the day
// number and corrects it by one step.
//
// The parser splits the text at "-", "/" and blanks (runs of separators count
// as one) and reads each field as a decimal number or a month name.
#include "lib/geodesy/date_text.h"

#include <cstdio>

namespace geodesy {

namespace {

constexpr int kDaysBefore[2][12] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};
constexpr char kWeekdays[] = "MonTueWedThuFriSatSun";
constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr char kMonthsLower[] = "janfebmaraprmayjunjulaugsepoctnovdec";

bool IsLeap(int year) { return year != 0 && year % 4 == 0; }

uint32_t YearStart(int year) {
  return static_cast<uint32_t>(365 * year + (year > 0 ? (year - 1) / 4 : 0));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal digits of a field as a number (at most 9 digits are
// read, so the value never overflows); -1 when the field has no leading digit.
long LeadingNumber(std::string_view field) {
  if (field.empty() || !IsDigit(field[0])) return -1;
  long value = 0;
  for (std::size_t i = 0; i < field.size() && i < 9 && IsDigit(field[i]); ++i) {
    value = value * 10 + (field[i] - '0');
  }
  if (field.size() > 9 && IsDigit(field[9])) return 999999999;  // far out of every range
  return value;
}

int MonthFromName(std::string_view field) {
  if (field.size() < 3) return -1;
  char lower[3];
  for (int i = 0; i < 3; ++i) {
    const char c = field[i];
    lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (int m = 0; m < 12; ++m) {
    if (lower[0] == kMonthsLower[3 * m] && lower[1] == kMonthsLower[3 * m + 1] &&
        lower[2] == kMonthsLower[3 * m + 2]) {
      return m;
    }
  }
  return -1;
}

}  // namespace

uint32_t DayNumber(const DateRecord& date) {
  if (date.year < 0 || date.year > LAST_DATE_YEAR || date.month < 0 || date.month > 11 ||
      date.day < 0 || date.day > 30) {
    return INVALID_DAY;
  }
  return YearStart(date.year) + kDaysBefore[IsLeap(date.year)][date.month] +
         static_cast<uint32_t>(date.day);
}

bool DateFromDayNumber(uint32_t day_number, DateRecord& date) {
  if (day_number > YearStart(LAST_DATE_YEAR + 1) - 1) return false;
  int year = static_cast<int>(day_number / 366);
  while (year < LAST_DATE_YEAR && YearStart(year + 1) <= day_number) ++year;
  const int day_of_year = static_cast<int>(day_number - YearStart(year));
  const int* before = kDaysBefore[IsLeap(year)];
  int month = 11;
  while (month > 0 && before[month] > day_of_year) --month;
  date.year = static_cast<int16_t>(year);
  date.month = static_cast<int16_t>(month);
  date.day = static_cast<int16_t>(day_of_year - before[month]);
  date.weekday = static_cast<int16_t>(day_number % 7);  // 1900-01-01 was a Monday
  return true;
}

uint32_t ParseDate(std::string_view text) {
  std::string_view fields[3];
  int count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == '-' || text[i] == '/' || text[i] == ' ')) ++i;
    if (i >= text.size()) break;
    const std::size_t start = i;
    while (i < text.size() && text[i] != '-' && text[i] != '/' && text[i] != ' ') ++i;
    if (count == 3) return INVALID_DAY;
    fields[count++] = text.substr(start, i - start);
  }
  if (count < 2) return INVALID_DAY;

  long year = LeadingNumber(fields[0]);
  if (year < 0) return INVALID_DAY;
  if (year >= 1900) year -= 1900;
  if (year > LAST_DATE_YEAR) return INVALID_DAY;
  const int y = static_cast<int>(year);

  if (count == 2) {
    const long day_of_year = LeadingNumber(fields[1]);
    if (day_of_year < 1 || day_of_year > 366) return INVALID_DAY;
    return YearStart(y) + static_cast<uint32_t>(day_of_year - 1);
  }
  int month = -1;
  if (!fields[1].empty() && IsDigit(fields[1][0])) {
    const long m = LeadingNumber(fields[1]);
    if (m < 1 || m > 12) return INVALID_DAY;
    month = static_cast<int>(m - 1);
  } else {
    month = MonthFromName(fields[1]);
    if (month < 0) return INVALID_DAY;
  }
  const long day = LeadingNumber(fields[2]);
  if (day < 1 || day > 31) return INVALID_DAY;
  return YearStart(y) + kDaysBefore[IsLeap(y)][month] + static_cast<uint32_t>(day - 1);
}

const char* DateText(const DateRecord& date, char* out, std::size_t size) {
  static char shared[DATE_TEXT_SIZE];
  char* dst = out ? out : shared;
  const std::size_t cap = out ? size : sizeof shared;
  if (cap == 0) return dst;
  char weekday[4] = "???", month[4] = "???", day[3] = "??";
  if (date.weekday >= 0 && date.weekday <= 6)
    std::snprintf(weekday, sizeof weekday, "%.3s", kWeekdays + 3 * date.weekday);
  if (date.month >= 0 && date.month <= 11)
    std::snprintf(month, sizeof month, "%.3s", kMonths + 3 * date.month);
  if (date.day >= 0 && date.day <= 30) std::snprintf(day, sizeof day, "%02d", date.day + 1);
  // Years since 1900 in 0..8099 give four digits; others are written in full.
  std::snprintf(dst, cap, "%s %s %s %04d", weekday, month, day, date.year + 1900);
  return dst;
}

}  // namespace geodesy
