#pragma once

// The usage history: per account and local date the minutes used, the day's allowance and grant,
// the minutes of each application, and the events of the day (warnings, logouts, applications
// ended, the disk quota, refused logins, grants). The daemon writes it with each save; the PAM
// module adds refused logins, `horavelctl grant` the grants; `horavelctl history` and the admin
// service read it. The daemon only writes, through a HistoryWriter (the journal beside the
// database, common/history_journal.h), so that it links no database; the readers hold a
// HistoryStore, which reads and writes.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hv {

// Days of history kept, today included; older ones are pruned.
inline constexpr int kHistoryDays = 400;

// Event kinds, as the history document names them.
inline constexpr const char* kEventWarning = "warning";
inline constexpr const char* kEventLogout = "logout";
inline constexpr const char* kEventRangeLogout = "range-logout";
inline constexpr const char* kEventAppEnded = "app-ended";
inline constexpr const char* kEventQuota = "quota";
inline constexpr const char* kEventLoginRefused = "login-refused";
inline constexpr const char* kEventGrant = "grant";

// What is known of one account's day. `used` absent leaves the stored minutes (and
// applications) as they are: a grant changes the allowance and grant only.
struct DayUsage {
    std::string account;
    int day = 0;  // local date as yyyymmdd
    std::optional<int32_t> used;
    uint32_t allowance = 0;  // the day's allowance before the grant; 0 = no limit
    int32_t granted = 0;     // the day's total grant
    std::map<std::string, int32_t> apps;  // application record name -> minutes used that day
};

struct HistoryEvent {
    std::string account;
    int day = 0;       // local date as yyyymmdd
    std::string time;  // local time "YYYY-MM-DDTHH:MM:SS"
    std::string kind;
    std::string detail;
    friend bool operator==(const HistoryEvent&, const HistoryEvent&) = default;
};

// One write: every part lands, or none does.
struct HistoryWrite {
    std::vector<DayUsage> usage;
    std::vector<HistoryEvent> events;
    // Rows of dates before this one (yyyymmdd) are removed.
    std::optional<int> pruneBefore;
};

// One account's day as read back.
struct HistoryDay {
    int day = 0;
    bool counted = false;  // the day's minutes, allowance and grant are stored (not only events)
    int32_t used = 0;
    uint32_t allowance = 0;
    int32_t granted = 0;
    std::map<std::string, int32_t> apps;
    std::vector<HistoryEvent> events;  // in time order; those of the same second as written
};

class HistoryWriter {
public:
    virtual ~HistoryWriter() = default;
    // Writes the whole batch at once. On failure nothing is written and `error` says why in one
    // line; the caller keeps the batch to try again.
    virtual bool write(const HistoryWrite& batch, std::string& error) = 0;
};

class HistoryStore : public HistoryWriter {
public:
    // The days of `account` from `firstDay` to `lastDay` (yyyymmdd, both included) that have
    // anything stored, oldest first; nullopt with `error` when the store cannot be read. A store
    // that does not exist yet holds no days.
    virtual std::optional<std::vector<HistoryDay>> read(const std::string& account, int firstDay, int lastDay,
                                                        std::string& error) = 0;
};

// The local time of a moment as an event carries it, "YYYY-MM-DDTHH:MM:SS"; empty when no
// calendar day holds it.
std::string historyTime(double unixTime);
// The date `days` after (or before, when negative) a yyyymmdd date, as yyyymmdd.
int shiftDay(int day, int days);
// A yyyymmdd date as "YYYY-MM-DD".
std::string isoDay(int day);

}  // namespace hv
