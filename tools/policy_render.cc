#include "tools/policy.h"

#include <time.h>

#include <cmath>
#include <iomanip>
#include <sstream>

#include "foundation/calendar_date.h"

namespace hv {
namespace {

std::string dayRow(const std::array<int32_t, 7>& values) {
    std::ostringstream out;
    for (int d : kWeekOrder) out << std::setw(5) << values[d];
    return out.str();
}

void renderRanges(std::ostringstream& out, const char* title, const std::vector<DaySpan>& ranges,
                  const char* none) {
    out << title << "\n";
    if (ranges.empty()) {
        out << "  " << none << "\n";
        return;
    }
    for (int d : kWeekOrder) {
        std::string line;
        for (const DaySpan& r : ranges) {
            if (r.day == d) line += "  " + formatMinute(r.start) + "-" + formatMinute(r.end);
        }
        out << "  " << kDayTitles[d] << (line.empty() ? "  none" : line) << "\n";
    }
}

std::string formatSaved(const Value& date) {
    const Date* d = date.date();
    if (!d) return "never";
    CalendarDate when = CalendarDate::fromValue(*d);
    time_t t = static_cast<time_t>(when.unixTime());
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return "?";
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

// Usage counts for today only when saved on today's day of the month, as the daemon reads it.
bool savedToday(const Value& date) {
    const Date* d = date.date();
    if (!d) return false;
    CalendarDate now(static_cast<double>(::time(nullptr)));
    return CalendarDate::fromValue(*d).dayOfMonth() == now.dayOfMonth() &&
           std::fabs(CalendarDate::fromValue(*d).unixTime() - now.unixTime()) < 86400;
}

}  // namespace

std::string renderPolicy(const std::string& user, const std::string& path, const Array& records,
                         const Policy& policy) {
    std::ostringstream out;
    out << "Policy of " << user << " (" << path << ")\n\n";
    out << std::left << std::setw(17) << "" << std::right;
    for (int d : kWeekOrder) out << std::setw(5) << kDayTitles[d];
    out << "\n" << std::left << std::setw(17) << "Allowance (min)" << std::right << dayRow(policy.allowance)
        << "   0 = no limit\n\n";
    renderRanges(out, "Time ranges", policy.ranges, "none: use is not limited to ranges");
    out << "\n";
    renderRanges(out, "Network ranges", policy.network, "none: the network is not switched off");
    out << "\nApplications (minutes per day, 0 = no limit)\n";
    if (policy.apps.empty()) out << "  none\n";
    for (const AppRule& a : policy.apps) {
        out << "  " << std::left << std::setw(15) << a.name << std::right << dayRow(a.minutes);
        for (size_t i = 0; i < records.size(); ++i) {
            auto e = recordAt(records, i);
            if (e && e->mmode() == Value("App") && e->user() == Value(a.name)) {
                out << "   used today " << (savedToday(e->date()) ? e->usage().intValue() : 0) << " min";
                break;
            }
        }
        out << "\n";
    }
    out << "\n";
    auto limit = recordAt(records, 0);
    if (limit && !limit->quota().isNil()) {
        int64_t bytes = limit->quota().longLongValue();
        out << "Disk quota: ";
        if (bytes % kMiB == 0) out << bytes / kMiB << " MB\n";
        else out << bytes << " bytes\n";
    } else {
        out << "Disk quota: none\n";
    }
    out << "Script: " << (policy.script ? *policy.script : std::string("none")) << "\n";
    if (limit) {
        bool today = savedToday(limit->date());
        out << "Usage today: " << (today ? limit->usage().intValue() : 0) << " min (last saved "
            << formatSaved(limit->date());
        if (!today && limit->date().date()) out << ", " << limit->usage().intValue() << " min that day";
        out << ")\n";
    }
    return out.str();
}

}  // namespace hv
