#include "tools/policy.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <tuple>

namespace hv {
namespace {

// The daemon keeps only the low 32 bits of a quota in bytes.
constexpr int64_t kMaxQuotaMb = 4095;

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

    bool rangeList(const Json& j, const std::string& where, bool network, std::vector<DaySpan>& out) {
        if (!j.is_array()) return fail(where + ": expected a list of {\"day\", \"start\", \"end\"}");
        std::vector<std::pair<DaySpan, size_t>> spans;
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
            if (*start > *end) {
                return fail(at + ": ends before it starts (" + formatMinute(*start) + "-" + formatMinute(*end) +
                            "); split a range that runs past midnight into two");
            }
            // The network goes off at the end minute, so a network range needs a minute at least.
            if (network && *start == *end) return fail(at + ": a network range must last at least a minute");
            if (*start == 0 && *end == 0) return fail(at + ": 00:00-00:00 holds only midnight; leave it out");
            for (int d : days->first) spans.push_back({{d, *start, *end}, i});
        }
        std::sort(spans.begin(), spans.end(), [](const auto& a, const auto& b) {
            return std::tie(a.first.day, a.first.start, a.first.end) < std::tie(b.first.day, b.first.start, b.first.end);
        });
        if (!disjoint(spans, where)) return false;
        for (const auto& span : spans) out.push_back(span.first);
        return true;
    }

    // Sorted spans, each with the index of the entry that gave it: two entries that overlap on some
    // day are an error naming both, since the daemon takes the first that holds the time and the
    // administrator meant something else. Ranges that only touch (one ends where the next starts)
    // are fine.
    bool disjoint(const std::vector<std::pair<DaySpan, size_t>>& spans, const std::string& where) {
        const std::pair<DaySpan, size_t>* latest = nullptr;  // of the day, the span that ends last
        for (const auto& span : spans) {
            if (latest && latest->first.day == span.first.day && span.first.start < latest->first.end) {
                auto shown = [&](const std::pair<DaySpan, size_t>& s) {
                    return where + "[" + std::to_string(s.second) + "] (" + formatMinute(s.first.start) + "-" +
                           formatMinute(s.first.end) + ")";
                };
                return fail(shown(*latest) + " and " + shown(span) + " overlap on " + kDayNames[span.first.day]);
            }
            if (!latest || latest->first.day != span.first.day || span.first.end > latest->first.end) latest = &span;
        }
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

constexpr unsigned kAllDays = 0x7f;
constexpr unsigned kWeekdays = 0x3e;  // Monday to Friday
constexpr unsigned kWeekend = 0x41;   // Saturday and Sunday

// The shortest way to name a set of days: "all", or "weekdays" and "weekend" where the set holds
// them whole, then single days in week order.
std::vector<std::string> dayNames(unsigned mask) {
    if (mask == kAllDays) return {"all"};
    std::vector<std::string> names;
    for (auto [group, name] : {std::pair{kWeekdays, "weekdays"}, std::pair{kWeekend, "weekend"}}) {
        if ((mask & group) == group) {
            names.push_back(name);
            mask &= ~group;
        }
    }
    for (int d : kWeekOrder) {
        if (mask & (1u << d)) names.push_back(kDayNames[d]);
    }
    return names;
}

Json perDayJson(const std::array<int32_t, 7>& values) {
    std::vector<int32_t> distinct;
    for (int d : kWeekOrder) {
        if (std::find(distinct.begin(), distinct.end(), values[d]) == distinct.end()) distinct.push_back(values[d]);
    }
    Json out = Json::object();
    for (int32_t v : distinct) {
        unsigned mask = 0;
        for (int d = 0; d < 7; ++d) mask |= values[d] == v ? 1u << d : 0;
        for (const std::string& name : dayNames(mask)) out[name] = v;
    }
    return out;
}

Json rangesJson(const std::vector<DaySpan>& ranges) {
    std::vector<std::pair<int, int>> spans;
    for (const DaySpan& r : ranges) {
        if (std::find(spans.begin(), spans.end(), std::pair{r.start, r.end}) == spans.end()) spans.push_back({r.start, r.end});
    }
    std::sort(spans.begin(), spans.end());
    Json out = Json::array();
    for (auto [start, end] : spans) {
        unsigned mask = 0;
        for (const DaySpan& r : ranges) mask |= r.start == start && r.end == end ? 1u << r.day : 0;
        for (const std::string& name : dayNames(mask)) {
            out.push_back({{"day", name}, {"start", formatMinute(start)}, {"end", formatMinute(end)}});
        }
    }
    return out;
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
        result.error = "a policy is a JSON object (see horavel-policy(5))";
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

}  // namespace hv
