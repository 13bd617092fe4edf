#pragma once

// Dates as ISO 8601 text with a numeric offset ("2026-12-07T08:30:00.5+01:00"), to and from
// seconds since 2001-01-01 00:00:00 UTC, the way archives count time.

#include <optional>
#include <string>
#include <string_view>

namespace hv {

// Whether a time can be written with a four-digit year (and so read back).
bool isoDateInRange(double secondsSince2001);

// The offset is that of the zone in force at that moment: the zone named by a "GMT+hhmm" style
// name, else the local time zone. Fractional seconds appear only when present, with the fewest
// digits that read back as exactly the same time. The time must be isoDateInRange.
std::string formatIsoDate(double secondsSince2001, const std::optional<std::string>& timeZone);

// "YYYY-MM-DDTHH:MM:SS[.fraction](Z|+hh:mm|+hhmm)" to seconds since 2001; nullopt otherwise.
std::optional<double> parseIsoDate(std::string_view text);

}  // namespace hv
