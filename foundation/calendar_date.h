#pragma once

// A moment read in local time, as NSCalendarDate gives it. Local time comes from the C library
// (localtime_r), so it follows TZ and /etc/localtime.

#include <string_view>

#include "foundation/value.h"

namespace hv {

// Seconds between the Unix epoch and the reference date 2001-01-01 00:00:00 UTC.
inline constexpr double kReferenceDateOffset = 978307200.0;
// The format every NSCalendarDate carries unless told otherwise.
inline constexpr std::string_view kDefaultCalendarFormat = "%Y-%m-%d %H:%M:%S %z";

class CalendarDate {
public:
    explicit CalendarDate(double unixTime);
    static CalendarDate fromReferenceTime(double secondsSince2001);
    static CalendarDate fromValue(const Date& date);

    double unixTime() const { return unix_; }
    double timeIntervalSinceReferenceDate() const { return unix_ - kReferenceDateOffset; }
    double timeIntervalSinceDate(const CalendarDate& other) const { return unix_ - other.unix_; }

    int dayOfWeek() const { return wday_; }  // 0 = Sunday .. 6 = Saturday
    int dayOfMonth() const { return mday_; }
    int hourOfDay() const { return hour_; }
    int minuteOfHour() const { return minute_; }
    int secondOfMinute() const { return second_; }

    // An NSCalendarDate value in the local time zone (its Olson name, as TZ, /etc/timezone or
    // /etc/localtime give it) with the default format.
    Date toValue() const;

private:
    double unix_;
    int wday_ = 0, mday_ = 1, hour_ = 0, minute_ = 0, second_ = 0;
};

}  // namespace hv
