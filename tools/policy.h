#pragma once

// An account's policy in the administrator's terms, and its two other forms: the human-readable
// JSON that `horavelctl policy set` reads (tools/POLICY_FORMAT.md), and the record list of the
// policy file (limit record, time-range pairs, network-range pairs, application records).

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/table_element.h"
#include "foundation/value.h"
#include "tools/json_codec.h"

namespace hv {

inline constexpr int kMinutesPerDay = 1440;
inline constexpr int64_t kMiB = 1048576;
// Weekdays as the daemon numbers them (0 = Sunday), and the order in which a week is shown.
inline constexpr const char* kDayNames[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
inline constexpr const char* kDayTitles[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr int kWeekOrder[7] = {1, 2, 3, 4, 5, 6, 0};

// A range of minutes of the day on one weekday (0 = Sunday .. 6 = Saturday).
struct DaySpan {
    int day = 0;
    int start = 0;  // minute of the day, 0..1439
    int end = 0;
    friend bool operator==(const DaySpan&, const DaySpan&) = default;
};

struct AppRule {
    std::string name;                // with ".app", as the daemon matches it
    std::array<int32_t, 7> minutes{};  // per weekday, 0 = not limited that day
    friend bool operator==(const AppRule&, const AppRule&) = default;
};

struct Policy {
    std::array<int32_t, 7> allowance{};  // minutes per weekday, 0 = no limit that day
    std::vector<DaySpan> ranges;        // time ranges, sorted by day then start
    std::vector<DaySpan> network;       // network ranges, likewise
    std::vector<AppRule> apps;
    std::optional<int64_t> quotaMb;
    std::optional<std::string> script;
    friend bool operator==(const Policy&, const Policy&) = default;
};

struct PolicyParse {
    Policy policy;
    std::optional<std::string> error;  // one line: what is wrong and where
};

// The JSON document of POLICY_FORMAT.md.
PolicyParse parsePolicyJson(const Json& json);
PolicyParse parsePolicyText(std::string_view text);
// The same document back (days that share a range or a number are written as "all").
Json policyToJson(const Policy& policy);

// Today's counts to carry into a new list so that changing the rules does not hand out fresh time.
struct Usage {
    Value usage;  // of the limit record
    Value date;
    std::vector<std::pair<std::string, std::pair<Value, Value>>> apps;  // name -> usage, date
};
Usage usageOf(const Array& records);

// The record list for `user`, every record's path the account's policy file.
Array policyToRecords(const Policy& policy, const std::string& user, const std::string& policyPath,
                      const Usage& usage);

struct RecordsParse {
    Policy policy;
    std::optional<std::string> error;
};
// The rules a record list holds, read by position as the daemon reads them.
RecordsParse recordsToPolicy(const Array& records);

// "hh:mm" from minutes of the day, and back (nullopt unless 00:00..23:59).
std::string formatMinute(int minute);
std::optional<int> parseMinute(std::string_view text);

// A readable table of the policy and of today's usage.
std::string renderPolicy(const std::string& user, const std::string& path, const Array& records,
                         const Policy& policy);

}  // namespace hv
