// Calendar dates and day numbers.
//
// DateRecord: years since 1900, month 0..11, day of the month minus one
// (0..30), weekday 0..6 with 0 = Monday.
//
// Day number: days since 1 January 1900 (day 0, a Monday), counted as
// 365 per year, the leap days of the years before, the days before the month
// and the day of the month minus one. Every fourth year from 1904 is a leap
// year, which is the Gregorian calendar for 1901..2099. Dates run from
// 1900-01-01 to 2079-12-31 (years 0..179): day numbers 0..65743. Files that
// store the day number in 16 bits can hold it up to 2079-06-06 (65535).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace geodesy {

struct DateRecord {
  int16_t year = 0;     // years since 1900
  int16_t month = 0;    // 0..11
  int16_t day = 0;      // day of the month minus one, 0..30
  int16_t weekday = 0;  // 0 = Monday .. 6 = Sunday
};

inline constexpr uint32_t INVALID_DAY = 0xFFFFFFFFu;
inline constexpr int LAST_DATE_YEAR = 179;         // 2079
inline constexpr std::size_t DATE_TEXT_SIZE = 16;  // 15 characters and NUL

// The day number of the record's year, month and day (the weekday is not
// used); INVALID_DAY when the year is outside 0..179, the month outside
// 0..11 or the day outside 0..30.
uint32_t DayNumber(const DateRecord& date);

// The date of a day number 0..65743, weekday included; false (record
// unchanged) for a larger number.
bool DateFromDayNumber(uint32_t day_number, DateRecord& date);

// Parses "year month day" or "year day-of-year", the fields separated by
// "-", "/" or blanks. The year is a calendar year (1900..2079) or years since
// 1900 (0..179); the month a number 1..12 or a name whose first three letters
// match (any case); the day 1..31 (not checked against the month's length),
// the day of the year 1..366. Returns the day number or INVALID_DAY.
uint32_t ParseDate(std::string_view text);

// Writes the 15-character text "Mon Jan 05 2021" (weekday, month, day of
// month, year) into out (size bytes, at least DATE_TEXT_SIZE for the whole
// text) and returns out; with out null into a static buffer that the next
// call overwrites. A weekday or month outside its range is written "???",
// a day outside 0..30 "??".
const char* DateText(const DateRecord& date, char* out = nullptr, std::size_t size = 0);

}  // namespace geodesy
