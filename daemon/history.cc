#include <cmath>

#include "common/table_element.h"
#include "daemon/monitor.h"

namespace hv {

namespace {

// A failed write is tried again once a minute, as a failed save of the policy is.
constexpr double kHistoryRetrySeconds = 60;
// Events kept while the history cannot be written; the oldest give way beyond this.
constexpr size_t kMaxWaitingEvents = 1000;
constexpr mode_t kStoreDirectoryMode = 0700;

bool hasMode(const std::shared_ptr<TableElement>& record, const char* mode) {
    const std::string* m = record ? record->mmode().string() : nullptr;
    return m && *m == mode;
}

}  // namespace

void Monitor::recordEvent(const char* kind, const std::string& detail) {
    if (!history || !user || user->empty()) return;
    const double now = system.now();
    if (historyEvents.size() >= kMaxWaitingEvents) historyEvents.erase(historyEvents.begin());
    historyEvents.push_back(HistoryEvent{*user, lastResetDay.value_or(localDay(now)), historyTime(now), kind, detail});
}

void Monitor::saveHistory() {
    if (!history) return;
    // The day is counted only where the limit record heads the list (the tick counts nothing
    // else): its minutes as the tick holds them, the allowance and grant of the counting day, and
    // each application counted on that day.
    const std::shared_ptr<TableElement> limit = userlist.empty() ? nullptr : recordAt(userlist, 0);
    if (historyMinutes && user && !user->empty() && lastResetDay && hasMode(limit, "Limit")) {
        const int day = *lastResetDay;
        DayUsage usage{*user, day, static_cast<int32_t>(umin),
                       static_cast<uint32_t>(limit->day(calendarDate().dayOfWeek()).intValue()), grantFor(grant, day),
                       {}};
        for (size_t i = 1; i < userlist.size(); ++i) {
            const std::shared_ptr<TableElement> record = recordAt(userlist, i);
            const std::string* name = record ? record->user().string() : nullptr;
            const Date* stamped = record ? record->date().date() : nullptr;
            if (!hasMode(record, "App") || !name || !stamped) continue;
            const int32_t minutes = record->usage().intValue();
            if (minutes > 0 && localDay(CalendarDate::fromValue(*stamped).unixTime()) == day) {
                usage.apps[*name] = minutes;
            }
        }
        historyDays[{*user, day}] = std::move(usage);
    }
    historyMinutes = false;
    if (historyDays.empty() && historyEvents.empty()) return;

    const double now = system.now();
    if (historyFailedAt && now - *historyFailedAt < kHistoryRetrySeconds && now >= *historyFailedAt) return;
    HistoryWrite batch;
    for (const auto& [key, usage] : historyDays) batch.usage.push_back(usage);
    batch.events = historyEvents;
    if (lastResetDay && *lastResetDay != historyPrunedDay) {
        batch.pruneBefore = shiftDay(*lastResetDay, -(kHistoryDays - 1));
    }
    // The store directory is made on the run's first write, and again after a failure.
    if (historyPrunedDay == 0 || historyFailedAt) system.makeRootDirectory(config.storeRoot, kStoreDirectoryMode);
    std::string error;
    if (!history->write(batch, error)) {
        if (!historyFailedAt) logIt("history could not be written (tried again each minute): " + error);
        historyFailedAt = now;
        return;
    }
    if (historyFailedAt) logIt("history written again to " + config.storeHistoryJournalPath());
    historyFailedAt.reset();
    historyDays.clear();
    historyEvents.clear();
    if (batch.pruneBefore) historyPrunedDay = *lastResetDay;
}

}  // namespace hv
