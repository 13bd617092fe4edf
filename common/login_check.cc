#include "common/login_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/table_element.h"
#include "foundation/calendar_date.h"

namespace hv {

namespace {

constexpr uint32_t kLastMinute = 23 * 60 + 59;
constexpr int kDaysLookedAhead = 7;
// A day of the month comes round again only after 28 days or more, so a stamp that shows today's
// day number and lies less than a week away (either way: the clock may have been set back) was
// made on today's local date.
constexpr double kSameDateWindow = 7 * 24 * 3600.0;

const char* const kWeekdayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

// The day's allowance as the daemon reads it: unsigned, 0 = no limit.
uint32_t allowanceOf(const TableElement& limit, int weekday) {
    return static_cast<uint32_t>(limit.day(weekday).intValue());
}

// The record's usage belongs to the day it was stamped; a stamp of another date (or none) means
// nothing has been counted today, as the daemon's day reset would make it.
uint32_t usedToday(const TableElement& limit, const CalendarDate& now) {
    const Date* stamp = limit.date().date();
    if (stamp == nullptr) return 0;
    const CalendarDate saved = CalendarDate::fromValue(*stamp);
    const double apart = std::fabs(now.timeIntervalSinceDate(saved));
    if (saved.dayOfMonth() != now.dayOfMonth() || !(apart < kSameDateWindow)) return 0;
    return static_cast<uint32_t>(limit.usage().intValue());
}

struct Opening {
    uint32_t minute = 0;
    std::optional<DayRange> range;
};

// The earliest minute of `weekday`, from `from` on, that the time ranges allow, with the range
// that holds it; nullopt when none does. A day whose ranges all stand aside (or a policy without
// ranges) is open all day, as the daemon enforces nothing then. With `unsetOpens` false an unset
// range that counts (keeplimit) still closes the day but offers no opening: its one minute, 00:00,
// is no time worth announcing for a login.
std::optional<Opening> firstOpening(const Array& list, const TableElement& limit, int weekday,
                                    uint32_t from, bool keeplimit, bool unsetOpens) {
    if (from > kLastMinute) return std::nullopt;
    const RangeList ranges(list, 1, limit.ranges(), weekday);
    bool anyCounts = false;
    std::optional<Opening> best;
    for (int64_t i = 0; i < ranges.size(); ++i) {
        const DayRange range = ranges[i];
        if (!range.counts(keeplimit)) continue;
        anyCounts = true;
        if (range.unset() && !unsetOpens) continue;
        const uint32_t minute = std::max(range.start, from);
        if (minute > kLastMinute || !range.holds(minute)) continue;
        if (!best || minute < best->minute) best = Opening{minute, range};
    }
    if (!anyCounts) return Opening{from, std::nullopt};
    return best;
}

std::string clockText(uint32_t minute) {
    minute = std::min(minute, kLastMinute);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u", minute / 60, minute % 60);
    return text;
}

// "at 07:00", "tomorrow", "tomorrow at 07:00", "on Saturday at 09:00".
std::string whenText(const NextLogin& next) {
    std::string day;
    if (next.daysAhead == 1) {
        day = "tomorrow";
    } else if (next.daysAhead > 1) {
        day = std::string("on ") + kWeekdayNames[next.weekday % 7];
    }
    if (day.empty()) return "at " + clockText(next.minute);
    if (next.minute == 0 && !next.range) return day;
    return day + " at " + clockText(next.minute);
}

}  // namespace

LoginVerdict checkLogin(const Array& list, const LoginSettings& settings, double unixTime,
                        const std::optional<Grant>& grant) {
    LoginVerdict verdict;
    if (settings.status == 0 || list.empty()) return verdict;
    const std::shared_ptr<TableElement> limit = recordAt(list, 0);
    const std::string* mode = limit ? limit->mmode().string() : nullptr;
    if (mode == nullptr || *mode != "Limit") return verdict;

    const CalendarDate now(unixTime);
    const int today = now.dayOfWeek();
    const uint32_t minute = static_cast<uint32_t>(now.hourOfDay() * 60 + now.minuteOfHour());
    const bool keeplimit = settings.keeplimit != 0;
    // With time ranges and without keeplimit, the ranges take the place of the allowance.
    const bool allowanceApplies = limit->ranges() <= 0 || keeplimit;

    const uint32_t allowance = allowanceOf(*limit, today);
    const uint32_t granted = grantedAllowance(allowance, grantFor(grant, localDay(unixTime)));
    if (allowanceApplies && allowance != 0 && usedToday(*limit, now) >= granted) {
        verdict.refusedBy = LoginLimit::Allowance;
    } else {
        const std::optional<Opening> open =
            firstOpening(list, *limit, today, minute, keeplimit, true);
        if (open && open->minute == minute) return verdict;
        verdict.refusedBy = LoginLimit::TimeRange;
    }

    // Later days start with nothing used, so only their time ranges can keep the account out.
    const int firstDay = verdict.refusedBy == LoginLimit::Allowance ? 1 : 0;
    for (int days = firstDay; days <= kDaysLookedAhead; ++days) {
        const int weekday = (today + days) % 7;
        const uint32_t from = days == 0 ? minute : 0;
        if (const std::optional<Opening> open =
                firstOpening(list, *limit, weekday, from, keeplimit, false)) {
            verdict.next = NextLogin{days, weekday, open->minute, open->range};
            break;
        }
    }
    return verdict;
}

std::string refusalMessage(const std::string& account, const LoginVerdict& verdict) {
    switch (verdict.refusedBy) {
        case LoginLimit::None:
            return "";
        case LoginLimit::Allowance:
            if (!verdict.next) {
                return "Time is up for today: " + account +
                       " has no time to log in in the coming week.";
            }
            return "Time is up for today: " + account + " can log in again " +
                   whenText(*verdict.next) + ".";
        case LoginLimit::TimeRange:
            if (!verdict.next) {
                return account + " may not use the computer now, nor in the coming week.";
            }
            if (verdict.next->daysAhead == 0 && verdict.next->range) {
                return account + " may use the computer from " +
                       clockText(verdict.next->range->start) + " to " +
                       clockText(verdict.next->range->end) + ": log in again " +
                       whenText(*verdict.next) + ".";
            }
            return account + " may not use the computer again today: log in again " +
                   whenText(*verdict.next) + ".";
    }
    return "";
}

}  // namespace hv
