#include <cmath>
#include <ctime>
#include <string_view>

#include "common/table_element.h"
#include "daemon/monitor.h"

namespace hv {
namespace {

constexpr std::string_view kAppSuffix = ".app";

bool isAppRecord(const std::shared_ptr<TableElement>& record) {
    const std::string* mode = record ? record->mmode().string() : nullptr;
    return mode && *mode == "App";
}

// The process name of an application record: the text before the first ".app". A record without
// a name, or whose name is not an application bundle's, names no process.
std::optional<std::string> applicationName(const TableElement& record) {
    const std::string* name = record.user().string();
    if (!name) return std::nullopt;
    const size_t suffix = name->find(kAppSuffix);
    if (suffix == std::string::npos || suffix == 0) return std::nullopt;
    return name->substr(0, suffix);
}

// Whether the record was last counted on another local calendar day than `now`. A record never
// counted (no date) is not known to be stale.
bool countedOnAnotherDay(const TableElement& record, const CalendarDate& now) {
    const Date* stamped = record.date().date();
    if (stamped == nullptr) return false;
    const time_t then =
        static_cast<time_t>(std::floor(CalendarDate::fromValue(*stamped).unixTime()));
    const time_t today = static_cast<time_t>(std::floor(now.unixTime()));
    struct tm a = {}, b = {};
    if (localtime_r(&then, &a) == nullptr || localtime_r(&today, &b) == nullptr) return false;
    return a.tm_year != b.tm_year || a.tm_mon != b.tm_mon || a.tm_mday != b.tm_mday;
}

bool hasAppRecord(const Array& list) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (isAppRecord(recordAt(list, i))) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> Monitor::watchedApplications() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < userlist.size(); ++i) {
        const auto record = recordAt(userlist, i);
        if (!isAppRecord(record)) continue;
        if (std::optional<std::string> name = applicationName(*record)) names.push_back(std::move(*name));
    }
    return names;
}

// Between application minutes, an application whose minutes are used up today is ended as soon as
// it runs, not up to a minute later: otherwise starting it again after each ending would give it
// most of every minute. Only then does a tick look at the process table for it.
void Monitor::endUsedUpApplications() {
    const CalendarDate now = calendarDate();
    const int day = now.dayOfWeek();
    for (size_t i = 0; i < userlist.size(); ++i) {
        const auto record = recordAt(userlist, i);
        if (!isAppRecord(record)) continue;
        const int32_t allowed = record->day(day).intValue();
        // The day's date is looked at last: it costs two local-time conversions, and every tick
        // passes here for every application with minutes left.
        if (allowed <= 0 || record->usage().intValue() < allowed || countedOnAnotherDay(*record, now)) continue;
        if (const std::optional<std::string> base = applicationName(*record)) {
            if (endProcesses(applicationProcesses(*base, user)) > 0) recordEvent(kEventAppEnded, *record->user().string());
        }
    }
}

// Application minutes pass every 13th call (65 seconds at the 5-second tick). In each, every
// application record is examined: a running application is counted while its allowance lasts,
// warned about when few minutes are left, and ended once they are used up. All records share the
// tick's one look at the process table.
void Monitor::checkApps() {
    if (!hasAppRecord(userlist)) return;

    auminsec += 5;
    if (auminsec <= 60) {
        endUsedUpApplications();
        return;
    }
    auminsec = 0;

    const CalendarDate now = calendarDate();
    const int day = now.dayOfWeek();
    for (size_t i = 0; i < userlist.size(); ++i) {
        auto record = recordAt(userlist, i);
        if (!isAppRecord(record)) continue;
        // The minutes are reset by the tick that falls on midnight. When no tick did (the
        // computer was off or asleep then), a count from an earlier day starts afresh here, or
        // yesterday's used-up allowance would end the application all day.
        if (countedOnAnotherDay(*record, now)) record->setUsage(Value::integer(0, 'i'));
        const std::optional<std::string> base = applicationName(*record);
        if (!base) continue;

        appname = *record->user().string();
        const int32_t pid = findProcess(*base, user);
        if (pid == 0) continue;

        const int32_t used = record->usage().intValue();
        const int32_t allowed = record->day(day).intValue();
        if (allowed <= 0) continue;

        // Every process that is the application ends, not just the first: a decoy of the same
        // name must not shield the real one, nor a process that ignores SIGTERM survive.
        if (used >= allowed && endProcesses(applicationProcesses(*base, user)) > 0) {
            recordEvent(kEventAppEnded, *appname);
        }
        // Warned only while some minutes are left and no more than the warning time: an
        // allowance lowered below the minutes used, or a count the file holds below zero, leaves
        // none or more than a day's worth, and neither is a warning's "%l".
        const int64_t left = int64_t{allowed} - int64_t{used};
        if (left >= 1 && left <= int64_t{warntime}) {
            armin = static_cast<uint32_t>(left);
            makeMessage(appwarn);
            if (!appwarndone) showCautionNotice();
            appwarndone = warnonce == 1;
        }
        if (used < allowed) countMinute(static_cast<int32_t>(i));
    }
}

}  // namespace hv
