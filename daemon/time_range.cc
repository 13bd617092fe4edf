#include "common/table_element.h"
#include "daemon/monitor.h"
#include "daemon/range_records.h"

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
        // Without the daily allowance beside them, unset ranges mean "no range today"; with it,
        // an unset range is the range of minute 0 alone.
        if (range.unset() && keeplimit == 0) continue;
        if (range.start <= now && now <= range.end) {
            if (keeplimit == 0) {
                rmin = range.end - now;
                timeLimited = true;
            }
            if (!warning && now + warntime >= range.end) {
                makeMessage(warn);
                showCautionNotice();
                warning = true;
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
    system.sleepFor(kLogoutDelay);
    userLogout();
}

}  // namespace hv
