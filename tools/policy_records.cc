#include "tools/policy.h"

#include <algorithm>
#include <tuple>

namespace hv {
namespace {

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
void appendPairs(Array& list, const std::vector<DaySpan>& ranges, const char* mode,
                 const std::string& policyPath, int pairs) {
    std::array<std::vector<const DaySpan*>, 7> byDay;
    for (const DaySpan& r : ranges) byDay[r.day].push_back(&r);
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

int pairCount(const std::vector<DaySpan>& ranges) {
    std::array<int, 7> perDay{};
    for (const DaySpan& r : ranges) ++perDay[r.day];
    return *std::max_element(perDay.begin(), perDay.end());
}

void readPairs(const Array& records, size_t first, int32_t pairs, std::vector<DaySpan>& out) {
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
    std::sort(out.begin(), out.end(), [](const DaySpan& a, const DaySpan& b) {
        return std::tie(a.day, a.start, a.end) < std::tie(b.day, b.start, b.end);
    });
}

}  // namespace

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

}  // namespace hv
