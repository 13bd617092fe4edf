#pragma once

// Civil dates of the proleptic Gregorian calendar, counted in days since 1970-01-01. Shared by
// every reader and writer of date text, so that all of them agree on the calendar.

#include <cstdint>

namespace hv {

// Days since 1970-01-01 of year-month-day; month 1..12, day 1..31.
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day);
// The year, month (1..12) and day (1..31) of a day counted since 1970-01-01.
void civilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);
// 28 to 31; month 1..12.
unsigned daysInMonth(int64_t year, unsigned month);

}  // namespace hv
