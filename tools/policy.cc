#include "tools/policy.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <set>
#include <sstream>

#include "foundation/calendar_date.h"

namespace hv {
namespace {

constexpr int kMinutesPerDay = 1440;
// The daemon keeps only the low 32 bits of a quota in bytes.
constexpr int64_t kMaxQuotaMb = 4095;
constexpr int64_t kMiB = 1048576;

const char* const kDayNames[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
const char* const kDayTitles[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
// Monday first, as people read a week.
const int kWeekOrder[7] = {1, 2, 3, 4, 5, 6, 0};

// The days a name stands for, and how specific it is (a single day beats a group beats "all").
std::optional<std::pair<std::vector<int>, int>> daySet(const std::string& name) {
    if (name == "all") return std::pair{std::vector<int>{0, 1, 2, 3, 4, 5, 6}, 0};
    if (name == "weekdays") return std::pair{std::vector<int>{1, 2, 3, 4, 5}, 1};
    if (name == "weekend") return std::pair{std::vector<int>{0, 6}, 1};
    for (int d = 0; d < 7; ++d) {
        if (name == kDayNames[d]) return std::pair{std::vector<int>{d}, 2};
    }
    return std::nullopt;
}

const char* kDayHelp = "a day is one of mon, tue, wed, thu, fri, sat, sun, weekdays, weekend, all";

class Parser {
public:
    std::optional<std::string> error;

    bool fail(const std::string& message) {
        if (!error) error = message;
        return false;
    }

    // A number for all days, or an object of day names to numbers in 0..max.
    bool perDay(const Json& j, const std::string& where, int32_t max, std::array<int32_t, 7>& out) {
        auto number = [&](const Json& v, const std::string& at) -> std::optional<int32_t> {
            if (!v.is_number_integer() || v.get<int64_t>() < 0 || v.get<int64_t>() > max) {
                fail(at + ": expected whole minutes from 0 to " + std::to_string(max) + ", got " + v.dump());
                return std::nullopt;
            }
            return static_cast<int32_t>(v.get<int64_t>());
        };
        out.fill(0);
        if (j.is_number()) {
            auto n = number(j, where);
            if (!n) return false;
            out.fill(*n);
            return true;
        }
        if (!j.is_object()) return fail(where + ": expected a number or an object of days");
        for (int level = 0; level <= 2; ++level) {
            for (const auto& item : j.items()) {
                auto days = daySet(item.key());
                if (!days) return fail(where + ": unknown day \"" + item.key() + "\" (" + kDayHelp + ")");
                if (days->second != level) continue;
                auto n = number(item.value(), where + "." + item.key());
                if (!n) return false;
                for (int d : days->first) out[d] = *n;
            }
        }
        return true;
    }

    bool rangeList(const Json& j, const std::string& where, bool network, std::vector<DayRange>& out) {
        if (!j.is_array()) return fail(where + ": expected a list of {\"day\", \"start\", \"end\"}");
        for (size_t i = 0; i < j.size(); ++i) {
            const Json& r = j[i];
            std::string at = where + "[" + std::to_string(i) + "]";
            if (!r.is_object()) return fail(at + ": expected {\"day\", \"start\", \"end\"}");
            for (const auto& item : r.items()) {
                if (item.key() != "day" && item.key() != "start" && item.key() != "end") {
                    return fail(at + ": unknown key \"" + item.key() + "\"");
                }
            }
            if (!r.contains("day") || !r["day"].is_string()) return fail(at + ": \"day\" is missing (" + kDayHelp + ")");
            auto days = daySet(r["day"].get<std::string>());
            if (!days) return fail(at + ": unknown day " + r["day"].dump() + " (" + kDayHelp + ")");
            std::optional<int> start, end;
            for (auto [key, slot] : {std::pair{"start", &start}, std::pair{"end", &end}}) {
                if (r.contains(key) && r[key].is_string()) *slot = parseMinute(r[key].get<std::string>());
                if (!*slot) {
                    return fail(at + ": \"" + key + "\" must be a time from \"00:00\" to \"23:59\", got " +
                                (r.contains(key) ? r[key].dump() : std::string("nothing")));
                }
            }
            if (*start > *end || (network && *start == *end)) {
                return fail(at + ": ends before it starts (" + formatMinute(*start) + "-" + formatMinute(*end) +
                            "); split a range that runs past midnight into two");
            }
            if (*start == 0 && *end == 0) return fail(at + ": 00:00-00:00 holds only midnight; leave it out");
            for (int d : days->first) out.push_back({d, *start, *end});
        }
        std::sort(out.begin(), out.end(), [](const DayRange& a, const DayRange& b) {
            return std::tie(a.day, a.start, a.end) < std::tie(b.day, b.start, b.end);
        });
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return true;
    }

    bool apps(const Json& j, std::vector<AppRule>& out) {
        if (!j.is_array()) return fail("apps: expected a list of {\"name\", \"minutes\"}");
        std::set<std::string> seen;
        for (size_t i = 0; i < j.size(); ++i) {
            const Json& a = j[i];
            std::string at = "apps[" + std::to_string(i) + "]";
            if (!a.is_object()) return fail(at + ": expected {\"name\", \"minutes\"}");
            for (const auto& item : a.items()) {
                if (item.key() != "name" && item.key() != "minutes") return fail(at + ": unknown key \"" + item.key() + "\"");
            }
            if (!a.contains("name") || !a["name"].is_string() || a["name"].get<std::string>().empty()) {
                return fail(at + ": \"name\" must be the application's name, like \"firefox\"");
            }
            AppRule rule;
            rule.name = a["name"].get<std::string>();
            if (rule.name.find(".app") == std::string::npos) rule.name += ".app";
            if (rule.name.rfind(".app", 0) == 0) return fail(at + ": \"name\" has no process name before \".app\"");
            if (!seen.insert(rule.name).second) return fail(at + ": " + rule.name + " is listed twice");
            if (!a.contains("minutes")) return fail(at + ": \"minutes\" is missing");
            if (!perDay(a["minutes"], at + ".minutes", kMinutesPerDay, rule.minutes)) return false;
            out.push_back(std::move(rule));
        }
        return true;
    }
};

void setDay(TableElement& e, int day, int32_t value) {
    Value v = Value::integer(value, 'i');
    switch (day) {
        case 0: e.setSunday(v); break;
        case 1: e.setMonday(v); break;
        case 2: e.setTuesday(v); break;
        case 3: e.setWednesday(v); break;
        case 4: e.setThursday(v); break;
        case 5: e.setFriday(v); break;
        case 6: e.setSaturday(v); break;
    }
}

// Range pairs: pair i holds, for each weekday, that day's i-th range (0-0, "unset", where a day
// has fewer ranges).
void appendPairs(Array& list, const std::vector<DayRange>& ranges, const char* mode,
                 const std::string& policyPath, int pairs) {
    std::array<std::vector<const DayRange*>, 7> byDay;
    for (const DayRange& r : ranges) byDay[r.day].push_back(&r);
    for (int i = 0; i < pairs; ++i) {
        auto start = std::make_shared<TableElement>();
        auto end = std::make_shared<TableElement>();
        for (auto& e : {start, end}) {
            e->setMmode(Value(mode));
            e->setHomePath(Value(policyPath));
        }
        for (int d = 0; d < 7; ++d) {
            bool has = static_cast<size_t>(i) < byDay[d].size();
            setDay(*start, d, has ? byDay[d][i]->start : 0);
            setDay(*end, d, has ? byDay[d][i]->end : 0);
        }
        list.push_back(Value(std::shared_ptr<Object>(start)));
        list.push_back(Value(std::shared_ptr<Object>(end)));
    }
}

int pairCount(const std::vector<DayRange>& ranges) {
    std::array<int, 7> perDay{};
    for (const DayRange& r : ranges) ++perDay[r.day];
    return *std::max_element(perDay.begin(), perDay.end());
}

void readPairs(const Array& records, size_t first, int32_t pairs, std::vector<DayRange>& out) {
    for (int64_t i = 0; i < pairs; ++i) {
        size_t at = first + 2 * static_cast<size_t>(i);
        if (at >= records.size()) break;
        auto start = recordAt(records, at);
        auto end = recordAt(records, at + 1);
        for (int d = 0; d < 7; ++d) {
            int s = start ? start->day(d).intValue() : 0;
            int e = end ? end->day(d).intValue() : 0;
            if (s == 0 && e == 0) continue;
            out.push_back({d, s, e});
        }
    }
    std::sort(out.begin(), out.end(), [](const DayRange& a, const DayRange& b) {
        return std::tie(a.day, a.start, a.end) < std::tie(b.day, b.start, b.end);
    });
}

Json perDayJson(const std::array<int32_t, 7>& values) {
    if (std::all_of(values.begin(), values.end(), [&](int32_t v) { return v == values[0]; })) {
        return Json{{"all", values[0]}};
    }
    Json out = Json::object();
    for (int d : kWeekOrder) out[kDayNames[d]] = values[d];
    return out;
}

Json rangesJson(const std::vector<DayRange>& ranges) {
    Json out = Json::array();
    std::vector<std::pair<int, int>> everyDay;
    for (const DayRange& r : ranges) {
        int days = 0;
        for (const DayRange& o : ranges) days += o.start == r.start && o.end == r.end;
        std::pair<int, int> span{r.start, r.end};
        if (days == 7) {
            if (std::find(everyDay.begin(), everyDay.end(), span) == everyDay.end()) everyDay.push_back(span);
            continue;
        }
    }
    std::sort(everyDay.begin(), everyDay.end());
    for (auto [s, e] : everyDay) out.push_back({{"day", "all"}, {"start", formatMinute(s)}, {"end", formatMinute(e)}});
    for (int d : kWeekOrder) {
        for (const DayRange& r : ranges) {
            if (r.day != d) continue;
            if (std::find(everyDay.begin(), everyDay.end(), std::pair{r.start, r.end}) != everyDay.end()) continue;
            out.push_back({{"day", kDayNames[d]}, {"start", formatMinute(r.start)}, {"end", formatMinute(r.end)}});
        }
    }
    return out;
}

std::string dayRow(const std::array<int32_t, 7>& values) {
    std::ostringstream out;
    for (int d : kWeekOrder) out << std::setw(5) << values[d];
    return out.str();
}

void renderRanges(std::ostringstream& out, const char* title, const std::vector<DayRange>& ranges,
                  const char* none) {
    out << title << "\n";
    if (ranges.empty()) {
        out << "  " << none << "\n";
        return;
    }
    for (int d : kWeekOrder) {
        std::string line;
        for (const DayRange& r : ranges) {
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

std::string formatMinute(int minute) {
    if (minute < 0 || minute >= kMinutesPerDay) return "?" + std::to_string(minute);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", minute / 60, minute % 60);
    return buf;
}

std::optional<int> parseMinute(std::string_view text) {
    size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3) return std::nullopt;
    int h = 0, m = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == colon) continue;
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        (i < colon ? h : m) = (i < colon ? h : m) * 10 + (text[i] - '0');
    }
    if (h > 23 || m > 59) return std::nullopt;
    return h * 60 + m;
}

PolicyParse parsePolicyJson(const Json& json) {
    PolicyParse result;
    Parser p;
    if (!json.is_object()) {
        result.error = "a policy is a JSON object (see POLICY_FORMAT.md)";
        return result;
    }
    Policy& policy = result.policy;
    for (const auto& item : json.items()) {
        const std::string& key = item.key();
        const Json& v = item.value();
        if (key == "allowance") {
            p.perDay(v, "allowance", kMinutesPerDay, policy.allowance);
        } else if (key == "ranges") {
            p.rangeList(v, "ranges", false, policy.ranges);
        } else if (key == "network") {
            p.rangeList(v, "network", true, policy.network);
        } else if (key == "apps") {
            p.apps(v, policy.apps);
        } else if (key == "quota_mb") {
            if (v.is_null()) continue;
            if (!v.is_number_integer() || v.get<int64_t>() < 1 || v.get<int64_t>() > kMaxQuotaMb) {
                p.fail("quota_mb: expected whole megabytes from 1 to " + std::to_string(kMaxQuotaMb) + ", got " + v.dump());
            } else {
                policy.quotaMb = v.get<int64_t>();
            }
        } else if (key == "script") {
            if (v.is_null()) continue;
            if (!v.is_string()) p.fail("script: expected a shell command line as a string");
            else policy.script = v.get<std::string>();
        } else {
            p.fail("unknown key \"" + key + "\" (known: allowance, ranges, network, apps, quota_mb, script)");
        }
        if (p.error) break;
    }
    result.error = p.error;
    return result;
}

PolicyParse parsePolicyText(std::string_view text) {
    JsonParse parsed = parseJsonText(text);
    if (parsed.error) return {{}, parsed.error->message};
    return parsePolicyJson(parsed.json);
}

Json policyToJson(const Policy& policy) {
    Json out = Json::object();
    out["allowance"] = perDayJson(policy.allowance);
    out["ranges"] = rangesJson(policy.ranges);
    out["network"] = rangesJson(policy.network);
    Json apps = Json::array();
    for (const AppRule& a : policy.apps) apps.push_back({{"name", a.name}, {"minutes", perDayJson(a.minutes)}});
    out["apps"] = apps;
    out["quota_mb"] = policy.quotaMb ? Json(*policy.quotaMb) : Json(nullptr);
    out["script"] = policy.script ? Json(*policy.script) : Json(nullptr);
    return out;
}

Usage usageOf(const Array& records) {
    Usage usage;
    auto limit = recordAt(records, 0);
    if (limit && limit->mmode() == Value("Limit")) {
        usage.usage = limit->usage();
        usage.date = limit->date();
    }
    for (size_t i = 0; i < records.size(); ++i) {
        auto e = recordAt(records, i);
        if (e && e->mmode() == Value("App") && e->user().string()) {
            usage.apps.push_back({*e->user().string(), {e->usage(), e->date()}});
        }
    }
    return usage;
}

Array policyToRecords(const Policy& policy, const std::string& user, const std::string& policyPath,
                      const Usage& usage) {
    Array list;
    auto limit = std::make_shared<TableElement>();
    limit->setUser(Value(user));
    limit->setHomePath(Value(policyPath));
    for (int d = 0; d < 7; ++d) setDay(*limit, d, policy.allowance[d]);
    const int timePairs = pairCount(policy.ranges);
    const int netPairs = pairCount(policy.network);
    limit->setRanges(timePairs);
    limit->setNetRanges(netPairs);
    if (policy.quotaMb) limit->setQuota(Value::integer(*policy.quotaMb * kMiB, 'q'));
    if (policy.script) limit->setScript(Value(*policy.script));
    if (!usage.usage.isNil()) limit->setUsage(usage.usage);
    limit->setDate(usage.date);
    list.push_back(Value(std::shared_ptr<Object>(limit)));

    appendPairs(list, policy.ranges, "Range", policyPath, timePairs);
    appendPairs(list, policy.network, "Network", policyPath, netPairs);

    for (const AppRule& rule : policy.apps) {
        auto app = std::make_shared<TableElement>();
        app->setMmode(Value("App"));
        app->setUser(Value(rule.name));
        app->setHomePath(Value(policyPath));
        for (int d = 0; d < 7; ++d) setDay(*app, d, rule.minutes[d]);
        for (const auto& [name, counts] : usage.apps) {
            if (name != rule.name) continue;
            if (!counts.first.isNil()) app->setUsage(counts.first);
            app->setDate(counts.second);
        }
        list.push_back(Value(std::shared_ptr<Object>(app)));
    }
    return list;
}

RecordsParse recordsToPolicy(const Array& records) {
    RecordsParse result;
    auto limit = recordAt(records, 0);
    if (!limit) {
        result.error = records.empty() ? "the policy list is empty" : "the first element is not a policy record";
        return result;
    }
    if (limit->mmode() != Value("Limit")) {
        result.error = "the first record is not a limit record (mode " + (limit->mmode().string() ? "\"" + *limit->mmode().string() + "\"" : std::string("absent")) + ")";
        return result;
    }
    Policy& policy = result.policy;
    for (int d = 0; d < 7; ++d) policy.allowance[d] = limit->day(d).intValue();
    const int32_t timePairs = std::max(limit->ranges(), 0);
    const int32_t netPairs = std::max(limit->netranges(), 0);
    readPairs(records, 1, timePairs, policy.ranges);
    readPairs(records, 1 + 2 * static_cast<size_t>(timePairs), netPairs, policy.network);
    for (size_t i = 0; i < records.size(); ++i) {
        auto e = recordAt(records, i);
        if (!e || e->mmode() != Value("App")) continue;
        AppRule rule;
        rule.name = e->user().string() ? *e->user().string() : "(no name)";
        for (int d = 0; d < 7; ++d) rule.minutes[d] = e->day(d).intValue();
        policy.apps.push_back(std::move(rule));
    }
    if (!limit->quota().isNil()) policy.quotaMb = limit->quota().longLongValue() / kMiB;
    if (limit->script().string()) policy.script = *limit->script().string();
    return result;
}

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
