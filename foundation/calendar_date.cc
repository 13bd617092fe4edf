#include "foundation/calendar_date.h"

#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace hv {

namespace {

inline constexpr std::string_view kZoneInfoMarker = "zoneinfo/";

// The Olson name after ".../zoneinfo/" in a path, or the empty string.
std::string zoneFromPath(std::string_view path) {
    const size_t at = path.rfind(kZoneInfoMarker);
    if (at == std::string_view::npos) return {};
    return std::string(path.substr(at + kZoneInfoMarker.size()));
}

// The name of the zone the C library uses for local time, in the form NSTimeZone names take
// ("Europe/Berlin"): from TZ when set, else /etc/timezone, else the target of /etc/localtime,
// else the abbreviation localtime_r reports.
std::string localZoneName(const struct tm& local) {
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        std::string_view name(tz);
        if (name.front() == ':') name.remove_prefix(1);
        if (std::string fromPath = zoneFromPath(name); !fromPath.empty()) return fromPath;
        if (!name.empty()) return std::string(name);
    }
    if (std::FILE* timezoneFile = std::fopen("/etc/timezone", "re")) {
        char line[256] = {};
        const bool read = std::fgets(line, sizeof line, timezoneFile) != nullptr;
        std::fclose(timezoneFile);
        line[std::strcspn(line, "\n")] = '\0';
        if (read && line[0] != '\0') return line;
    }
    char target[4096];
    const ssize_t n = ::readlink("/etc/localtime", target, sizeof target - 1);
    if (n > 0) {
        if (std::string fromPath = zoneFromPath(std::string_view(target, static_cast<size_t>(n)));
            !fromPath.empty())
            return fromPath;
    }
    if (local.tm_zone && *local.tm_zone) return local.tm_zone;
    return "GMT";
}

// Whole seconds for localtime_r, rounded down so that 12:00:00.5 stays 12:00:00; NaN and
// times beyond time_t's range are clamped instead of overflowing.
time_t wholeSeconds(double unixTime) {
    if (std::isnan(unixTime)) return 0;
    // About 292 billion years; localtime_r fails far below this, leaving the fields at their
    // defaults rather than reading garbage.
    constexpr double kLimit = 9.0e18;
    if (unixTime <= -kLimit) return static_cast<time_t>(-kLimit);
    if (unixTime >= kLimit) return static_cast<time_t>(kLimit);
    return static_cast<time_t>(std::floor(unixTime));
}

}  // namespace

CalendarDate::CalendarDate(double unixTime) : unix_(unixTime) {
    const time_t seconds = wholeSeconds(unixTime);
    struct tm local {};
    if (::localtime_r(&seconds, &local)) {
        wday_ = local.tm_wday;
        mday_ = local.tm_mday;
        hour_ = local.tm_hour;
        minute_ = local.tm_min;
        second_ = local.tm_sec;
    }
}

CalendarDate CalendarDate::fromReferenceTime(double secondsSince2001) {
    return CalendarDate(secondsSince2001 + kReferenceDateOffset);
}

CalendarDate CalendarDate::fromValue(const Date& date) { return fromReferenceTime(date.time); }

Date CalendarDate::toValue() const {
    const time_t seconds = wholeSeconds(unix_);
    struct tm local {};
    ::localtime_r(&seconds, &local);
    Date d;
    d.time = timeIntervalSinceReferenceDate();
    d.calendar = true;
    d.timeZone = localZoneName(local);
    d.format = std::string(kDefaultCalendarFormat);
    return d;
}

}  // namespace hv
