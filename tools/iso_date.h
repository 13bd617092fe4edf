#pragma once

// Dates as ISO 8601 text with a numeric offset ("2026-12-07T08:30:00.5+01:00"), to and from
// seconds since 2001-01-01 00:00:00 UTC, the way archives count time.

#include <optional>
#include <string>
#include <string_view>

namespace hv {

// Whether a time is one this form carries: from 0001-01-02 to 9999-12-30 in UTC, so that it
// keeps a four-digit year in every time zone and so reads back wherever it is printed.
bool isoDateInRange(double secondsSince2001);
// That range in words, for messages.
inline constexpr const char* kIsoDateRange =
    "a date must lie from 0001-01-02 to 9999-12-30 (UTC), so that every time zone writes its year in four digits";

// The offset is that of the zone in force at that moment, to the minute: the zone named by a
// "GMT+hhmm" style name, else the local time zone. Fractional seconds appear only when present,
// with the fewest digits (at most 20) that read back as exactly the same time; a time that no 20
// digits give exactly is written with the nearest 20-digit fraction. The time must be
// isoDateInRange.
std::string formatIsoDate(double secondsSince2001, const std::optional<std::string>& timeZone);

// "YYYY-MM-DDTHH:MM:SS[.fraction](Z|+hh:mm|+hhmm)" to seconds since 2001; nullopt otherwise.
std::optional<double> parseIsoDate(std::string_view text);

}  // namespace hv
