#include "common/range_records.h"
#include "common/table_element.h"
#include "daemon/monitor.h"

namespace hv {

// Inside a range the user keeps working (and is warned once before its end); outside every range
// the session ends. Both ends of a range are inclusive; all comparisons are unsigned.
void Monitor::checkTimeRange(int32_t index) {
    if (index < 0) return;
    auto limit = recordAt(userlist, static_cast<size_t>(index));
    if (!limit) return;

    const CalendarDate today = calendarDate();
    const uint32_t now = static_cast<uint32_t>(today.hourOfDay() * 60 + today.minuteOfHour());
    const RangeList list(userlist, int64_t{index} + 1, limit->ranges(), today.dayOfWeek());

    bool outside = false;
    for (int64_t i = 0; i < list.size(); ++i) {
        const DayRange range = list[i];
        if (!range.counts(keeplimit != 0)) continue;
        if (range.holds(now)) {
            if (keeplimit == 0) {
                rmin = range.end - now;
                timeLimited = true;
            }
            if (!warning && now + warntime >= range.end) {
                makeMessage(warn);
                showCautionNotice();
                warning = true;
                recordEvent(kEventWarning);
            }
            return;
        }
        starttime = static_cast<int32_t>(range.start);
        endtime = static_cast<int32_t>(range.end);
        outside = true;
    }
    if (!outside) return;

    makeMessage(ranges);
    showStopNotice();
    warning = true;
    recordEvent(kEventRangeLogout);
    // The minutes counted so far reach the disk before the wait, not after the logout.
    saveIfUnsaved();
    system.sleepFor(kLogoutDelay);
    userLogout();
}

}  // namespace hv
