#include "tools/history_command.h"

#include <algorithm>
#include <iomanip>
#include <map>
#include <ostream>
#include <sstream>

#include "common/grant.h"
#include "common/history.h"
#include "common/history_fold.h"
#include "common/policy_store.h"
#include "common/sqlite_history.h"
#include "common/table_element.h"
#include "foundation/civil_date.h"
#include "platform/linux/files.h"

namespace hv {

namespace {

// horavelctl is run by a person, who can wait a moment for a database the daemon is writing.
constexpr int kBusyMilliseconds = 1000;
constexpr size_t kMaxGrantFile = 64;
constexpr int kBarWidth = 20;
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// 0 = Sunday; 1970-01-01 was a Thursday.
int weekdayOf(int day) {
    const int64_t days = daysFromCivil(day / 10000, static_cast<unsigned>(day / 100 % 100),
                                       static_cast<unsigned>(day % 100));
    return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

// What the store says today about a date without stored counts: its weekday's allowance in the
// current policy, and today's grant.
struct PolicyNow {
    std::optional<Array> list;
    std::optional<Grant> grant;

    uint32_t allowance(int day) const {
        const auto limit = list && !list->empty() ? recordAt(*list, 0) : nullptr;
        return limit ? static_cast<uint32_t>(limit->day(weekdayOf(day)).intValue()) : 0;
    }
};

PolicyNow policyNow(const Config& config, const std::string& user) {
    PolicyNow now;
    now.list = readStoredPolicy(config, user,
                                [](const std::string& path) { return readRegularFile(path, kMaxStoreFile); })
                   .list;
    const ReadResult grant = readRegularFile(config.storeGrantPath(user), kMaxGrantFile);
    if (grant.bytes && grant.info && grant.info->uid == 0) now.grant = parseGrant(*grant.bytes);
    return now;
}

std::string appName(const std::string& record) {
    const size_t suffix = record.rfind(".app");
    return suffix != std::string::npos && suffix > 0 && suffix + 4 == record.size() ? record.substr(0, suffix) : record;
}

std::string bar(int64_t used, int64_t scale) {
    const int64_t filled = scale <= 0 ? 0 : std::min<int64_t>(kBarWidth, (used * kBarWidth + scale / 2) / scale);
    return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), '-') +
           "]";
}

}  // namespace

Outcome<Json> historyJson(const Config& config, const std::string& user, uint32_t days, double unixTime,
                          std::ostream& notes) {
    const std::string command = "horavelctl history: ";
    if (!usableAccountName(user)) return {{}, invalidRequest(command + "\"" + user + "\" is not an account name")};
    if (days < 1 || days > static_cast<uint32_t>(kHistoryDays)) {
        return {{}, invalidRequest(command + "--days must be from 1 to " + std::to_string(kHistoryDays) +
                                   " (the days the history keeps)")};
    }
    const int today = localDay(unixTime);
    const int first = shiftDay(today, -static_cast<int>(days - 1));
    SqliteHistory store(config.storeHistoryPath(), kBusyMilliseconds);
    std::string error;
    // The daemon's minutes since the last fold are in its journal; without them the read still
    // shows what the database holds.
    if (const std::optional<HistoryFold> folded = foldHistoryJournal(config.storeHistoryJournalPath(), store, error); !folded) {
        notes << command << "the daemon's latest history is not shown: " << error << "\n";
        error.clear();
    } else if (folded->skipped > 0) {
        notes << command << folded->skipped << " damaged lines of " << config.storeHistoryJournalPath()
              << " were skipped\n";
    }
    const std::optional<std::vector<HistoryDay>> stored = store.read(user, first, today, error);
    if (!stored) return {{}, failedRequest(command + "cannot read the history: " + error)};
    std::map<int, const HistoryDay*> byDay;
    for (const HistoryDay& day : *stored) byDay[day.day] = &day;
    const PolicyNow policy = policyNow(config, user);

    Json list = Json::array();
    int64_t total = 0;
    for (int day = first, index = 0; index < static_cast<int>(days); day = shiftDay(day, 1), ++index) {
        const auto found = byDay.find(day);
        const HistoryDay* record = found != byDay.end() ? found->second : nullptr;
        Json entry = Json::object();
        entry["date"] = isoDay(day);
        entry["used"] = record ? record->used : 0;
        const bool counted = record && record->counted;
        entry["allowance"] = counted ? record->allowance : policy.allowance(day);
        entry["granted"] = counted ? record->granted : grantFor(policy.grant, day);
        entry["apps"] = Json::object();
        entry["events"] = Json::array();
        if (record) {
            for (const auto& [app, minutes] : record->apps) entry["apps"][app] = minutes;
            for (const HistoryEvent& event : record->events) {
                entry["events"].push_back(Json{{"time", event.time}, {"kind", event.kind}, {"detail", event.detail}});
            }
        }
        if (static_cast<int>(days) - index <= static_cast<int>(kDefaultHistoryDays)) total += record ? record->used : 0;
        list.push_back(std::move(entry));
    }
    return {Json{{"user", user}, {"days", std::move(list)}, {"total", total}}, std::nullopt};
}

int runHistoryFold(const Config& config, std::ostream& out, std::ostream& err) {
    SqliteHistory store(config.storeHistoryPath(), kBusyMilliseconds);
    std::string error;
    const std::optional<HistoryFold> folded = foldHistoryJournal(config.storeHistoryJournalPath(), store, error);
    if (!folded) {
        err << "horavelctl history --fold: " << error << "\n";
        return 1;
    }
    out << "Folded " << folded->applied << " saves of the daemon into " << config.storeHistoryPath();
    if (folded->skipped > 0) out << " (" << folded->skipped << " damaged lines skipped)";
    out << "\n";
    return 0;
}

int runHistory(const Config& config, const std::string& user, uint32_t days, bool asJson, double unixTime,
               std::ostream& out, std::ostream& err) {
    const Outcome<Json> outcome = historyJson(config, user, days, unixTime, err);
    if (outcome.error) {
        err << outcome.error->line << "\n";
        return 1;
    }
    const std::optional<Json>& history = outcome.value;
    if (asJson) {
        out << history->dump(2) << "\n";
        return 0;
    }
    // A day without a limit is drawn against the longest day shown, so the bars still compare.
    int64_t longest = 1;
    for (const Json& day : (*history)["days"]) longest = std::max<int64_t>(longest, day["used"].get<int64_t>());
    for (const Json& day : (*history)["days"]) {
        const std::string date = day["date"].get<std::string>();
        const int yyyymmdd = std::stoi(date.substr(0, 4)) * 10000 + std::stoi(date.substr(5, 2)) * 100 +
                             std::stoi(date.substr(8, 2));
        const int64_t used = day["used"].get<int64_t>();
        const uint32_t allowance = day["allowance"].get<uint32_t>();
        const uint32_t allowed = grantedAllowance(allowance, day["granted"].get<int32_t>());
        std::ostringstream line;
        line << kWeekdays[weekdayOf(yyyymmdd)] << " " << date << " " << std::setw(5) << used;
        if (allowance == 0) {
            line << " min, no limit   " << bar(used, longest);
        } else {
            line << " / " << std::setw(4) << std::left << allowed << std::right << " min  " << bar(used, allowed);
        }
        std::string separator = "  ";
        for (const auto& [app, minutes] : day["apps"].items()) {
            line << separator << appName(app) << " " << minutes.get<int64_t>() << " min";
            separator = ", ";
        }
        out << line.str() << "\n";
    }
    out << "Total of the last " << std::min(days, kDefaultHistoryDays) << " days: " << (*history)["total"].get<int64_t>()
        << " min\n";
    return 0;
}

}  // namespace hv
