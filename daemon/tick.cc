#include <algorithm>
#include <cmath>
#include <ctime>

#include "common/grant.h"
#include "common/table_element.h"
#include "daemon/monitor.h"

namespace hv {

namespace {

bool sameLocalDay(double a, double b) {
    const int day = localDay(a);
    return day != 0 && day == localDay(b);
}

// The local midnight that begins the day of the given moment; minus infinity when the C library
// cannot say.
double localMidnight(double moment) {
    const time_t t = static_cast<time_t>(std::floor(moment));
    struct tm local = {};
    if (localtime_r(&t, &local) == nullptr) {
        return -HUGE_VAL;
    }
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    const time_t midnight = mktime(&local);
    return midnight == static_cast<time_t>(-1) ? -HUGE_VAL : static_cast<double>(midnight);
}

// The index of the record in the list by identity (the first place it stands).
int32_t indexOfRecord(const Array& list, const TableElement* record) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (recordAt(list, i).get() == record) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

std::string formatInt(uint32_t n) {
    return std::to_string(static_cast<int32_t>(n));
}

// Marks the running tick, whose lookups (the console user, the process table) are made once and
// shared; they are dropped when it ends, whichever way it returns.
class TickScope {
public:
    explicit TickScope(Monitor& monitor) : monitor_(monitor) {
        forget();
        monitor_.inTick = true;
    }
    ~TickScope() {
        monitor_.inTick = false;
        forget();
    }
    TickScope(const TickScope&) = delete;
    TickScope& operator=(const TickScope&) = delete;

private:
    // A lookup made outside a tick (a reload on a signal) is never taken for this tick's.
    void forget() {
        monitor_.tickConsole.reset();
        monitor_.tickProcesses.reset();
        monitor_.tickAccount.reset();
    }

    Monitor& monitor_;
};

}  // namespace

void Monitor::userMonitor() {
    const TickScope scope(*this);
    // An ending begun while monitoring was on is finished even if it has been switched off
    // since, rather than carried out whenever it is switched on again.
    killOverdue();
    if (!isRunning) {
        return;
    }
    countRecords(calendarDate());
    // Everything this tick counted (the user's minute, the applications', a sleep, the day's
    // reset) goes to disk in one save.
    saveIfUnsaved();
}

void Monitor::countRecords(const CalendarDate& now) {
    // Nobody at the console before and nobody now is no change: there is no policy to load,
    // and reloading would log its line every tick for as long as the login screen shows.
    if (userCurrent() != user) {
        loadUserData();
    }
    // The network is off for one account only, and only while it is at the console: a logout,
    // or another account at the console, gives it back. A reload of the same account's policy
    // keeps it off until the checks below decide again.
    if (networkOffFor && networkOffFor != user) {
        interfaceUp();
    }

    // A day began since the last reset: usually this tick is the day's first; when the computer
    // slept, or monitoring was off, across midnight, it is the first tick since. Only a date
    // later than the last reset's begins a day, so a clock set back (and forward again) or a
    // midnight hour that repeats when daylight saving ends never resets twice; until the clock
    // catches up, counts belong to the later date.
    const int today = localDay(now.unixTime());
    const bool newDay = lastResetDay && today > *lastResetDay;
    if (!lastResetDay || today > *lastResetDay) {
        lastResetDay = today;
    }
    const int countingDay = *lastResetDay;

    // The list is walked as it stands now; the records themselves are shared with `userlist`.
    const Array list = userlist;
    // The midnight reset leaves the same state however often it runs within one tick, so a
    // list with many limit records runs it once rather than once per record.
    bool clearedThisTick = false;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::shared_ptr<TableElement> record = recordAt(list, i);
        if (record == nullptr) {
            continue;
        }
        const std::string* mode = record->mmode().string();
        if (mode == nullptr || *mode != "Limit") {
            continue;
        }

        if (newDay && !clearedThisTick) {
            clearedThisTick = true;
            // The new day's allowance gets its own warning, once.
            warning = false;
            // Only a list loaded before the day began is reset, and a session that runs across
            // midnight starts the new day from the reset count rather than charging the earlier
            // day's minutes against today's allowance. A list loaded on this tick (the first
            // login of the morning) is judged by its stamps in the first-tick steps: it starts
            // from 0, not from the reset's counted minute.
            if (!switched) {
                clearToday();
                umin = static_cast<uint32_t>(record->usage().intValue());
            }
        }

        const bool firstTick = switched;
        bool resumed = false;
        if (switched) {
            warning = false;
            if (!firewallMethod()) getInterface();
            // A record counts as today's only when it was stamped on today's date; a count
            // from the same day of an earlier month starts afresh like any other day's. Nor
            // does a count go below what this account was given today already, whatever the
            // file now says.
            const Date* stamped = record->date().date();
            const bool stampedToday =
                stamped != nullptr && localDay(CalendarDate::fromValue(*stamped).unixTime()) == countingDay;
            const uint32_t stored = stampedToday ? static_cast<uint32_t>(record->usage().intValue()) : 0;
            const auto highest = user ? todaysHighest.find(*user) : todaysHighest.end();
            const bool countedToday = highest != todaysHighest.end() && highest->second.day == countingDay;
            umin = countedToday ? std::max(stored, highest->second.minutes) : stored;
            if (!stampedToday || umin != stored) {
                record->setUsage(Value::integer(static_cast<int32_t>(umin), 'i'));
            }
            uminsec = 0;
            // A user back at the console the same day goes on from the seconds counted before
            // leaving; otherwise stepping away for a moment before each minute is complete
            // would keep the minutes from ever being counted.
            const auto carried = user ? carriedSeconds.find(*user) : carriedSeconds.end();
            if ((stampedToday || countedToday) && carried != carriedSeconds.end() &&
                sameLocalDay(carried->second.at, now.unixTime())) {
                uminsec = carried->second.seconds;
                resumed = true;
            }
            auminsec = 0;
            usersize = static_cast<uint32_t>(record->quota().longLongValue());
            const std::string* script = record->script().string();
            cleanup = script ? std::optional<std::string>(*script) : std::nullopt;
        }

        if (tracksleep != 0 && wasSleeping) {
            // A wake without a recorded sleep, or one that ends before it began (the clock
            // was set back), charges nothing; nor does a sleep that began while another
            // account's policy (or nobody's) was loaded.
            if (sleepStart && sleepEnd && sleepUser == user) {
                // Only the part of the sleep that lies in this tick's own day is today's use: a
                // sleep that ran past midnight is charged from that midnight on, and the new
                // day's count starts afresh (no midnight tick ran to reset it); a sleep that
                // ended on an earlier day, say before a night at the login screen, charges
                // nothing.
                double start = sleepStart->unixTime();
                const double midnight = localMidnight(now.unixTime());
                if (start < midnight) {
                    if (midnight <= sleepEnd->unixTime()) umin = 0;
                    start = midnight;
                }
                const double interval = sleepEnd->unixTime() - start;
                if (interval >= 0) {
                    const uint64_t seconds = static_cast<uint64_t>(interval);
                    const uint64_t minutes = seconds / 60;
                    umin += static_cast<uint32_t>(minutes);
                    uminsec = static_cast<uint32_t>(seconds - minutes * 60);
                    // Stored at once: a charge held only in memory would be lost to a logout
                    // and login within the minute. The save adds one minute, so it is given
                    // one less.
                    record->setUsage(Value::integer(static_cast<int32_t>(umin - 1), 'i'));
                    countMinute(indexOfRecord(userlist, record.get()));
                }
            }
            wasSleeping = false;
        }

        // The grant of the day adds to (or takes from) the account's allowance, the limit record
        // at the head of the list. A day without an allowance has no limit for a grant to move;
        // one whose allowance is all taken away has a limit of 0 minutes.
        const uint32_t allowance = static_cast<uint32_t>(record->day(calendarDate().dayOfWeek()).intValue());
        const int32_t granted = i == 0 ? grantFor(grant, countingDay) : 0;
        amin = grantedAllowance(allowance, granted);

        // An allowance lowered below the minutes used leaves no time, not a count wrapped
        // below zero (which the tray would read as "hide", and "%m" as minus minutes).
        timeLimited = allowance != 0;
        if (!timeLimited || umin >= amin) {
            rmin = 0;
            rminsec = 0;
        } else if (uminsec == 0) {
            rmin = amin - umin;
            rminsec = 0;
        } else {
            rmin = amin - umin - 1;
            rminsec = 60 - uminsec;
        }

        const int32_t index = indexOfRecord(userlist, record.get());
        bool timeRange = false;
        if (record->ranges() > 0) {
            checkTimeRange(index);
            timeRange = true;
        }

        nrmin = static_cast<uint32_t>(-1);
        if (netmon != 0 && record->netranges() > 0) {
            checkNetRange(index);
        } else if (networkOffFor) {
            // No network range to enforce any more (the ranges or the network monitor were
            // switched off): the network must not stay off for good.
            interfaceUp();
        }

        if (switched) {
            logIt("new user : " + formatObject(user) + " - warn : " + formatInt(warntime) +
                  " - allowed : " + formatInt(amin) + " min - used " + formatInt(umin) + " min");
            switched = false;
        }
        if (timeLimited && i == 0) announceGrant(granted, countingDay);
        // A first tick counts nothing for a newcomer, but a user who is back the same day is
        // charged as on any other tick: otherwise every step away and back would leave this
        // tick's seconds out, and leaving the console for one tick in every few would halve the
        // time counted.
        if (!firstTick || resumed) {
            uminsec += 5;
            if (uminsec > 60) {
                umin += 1;
                uminsec = 0;
                countMinute(0);
            }
        }
        if (user) {
            DayCount& highest = todaysHighest[*user];
            if (highest.day != countingDay) highest = DayCount{countingDay, umin};
            highest.minutes = std::max(highest.minutes, umin);
        }

        if (appmon != 0) {
            checkApps();
        }
        showRemain();

        if (timeRange && keeplimit == 0) {
            return;
        }
        if (!timeLimited) {
            continue;
        }

        if (umin >= amin) {
            logIt("logout - allowed " + formatInt(amin) + " min - used today " + formatInt(umin) +
                  " min");
            recordEvent(kEventLogout);
            makeMessage(logout);
            showStopNotice();
            warning = true;
            // The minutes counted so far reach the disk before the wait, not after the logout.
            saveIfUnsaved();
            system.sleepFor(kLogoutDelay);
            userLogout();
        }

        if (!warning && umin + warntime >= amin) {
            warning = true;
            logIt("warning - allowed " + formatInt(amin) + " min - used today " + formatInt(umin) +
                  " min");
            recordEvent(kEventWarning);
            makeMessage(warn);
            showCautionNotice();
        }
    }
}

void Monitor::announceGrant(int32_t granted, int countingDay) {
    if (!user) return;
    const auto shown = grantsShown.find(*user);
    const int32_t before = shown != grantsShown.end() && shown->second.day == countingDay ? shown->second.minutes : 0;
    if (granted == before) return;
    grantsShown[*user] = Grant{countingDay, granted};
    grantmin = granted - before;
    logIt("grant - " + std::to_string(grantmin) + " min - allowed " + formatInt(amin) + " min - used today " +
          formatInt(umin) + " min");
    makeMessage(grantmsg);
    showCautionNotice();
}

void Monitor::clearToday() {
    // Every record starts the day with its usage reset and then counted as one minute, stamped
    // now. The list is saved with the tick's one save, to the loaded account's own files: a
    // record's own name (an application's, or any name the child's file puts there) never
    // chooses which account's policy is written.
    for (size_t i = 0; i < userlist.size(); ++i) {
        if (const std::shared_ptr<TableElement> record = recordAt(userlist, i)) {
            record->setUsage(Value::integer(0, 'i'));
            countMinute(static_cast<int32_t>(i));
        }
    }
}

}  // namespace hv
