#pragma once

// The login check: whether an account may start a session now, decided from its policy list (as
// the root-held store holds it), the two settings that bear on it and the local time. It refuses
// exactly where the daemon would end the session on its first tick: the day's allowance used up,
// or the current minute outside every time range of the day. Pure logic over values: no file,
// clock or account database is read here.

#include <cstdint>
#include <optional>
#include <string>

#include "common/grant.h"
#include "common/range_records.h"
#include "foundation/value.h"

namespace hv {

// The settings that bear on a login, as the settings file gives them (read as unsigned numbers,
// absent = 0).
struct LoginSettings {
    uint32_t status = 0;     // non-zero: monitoring is on; zero: nothing is enforced
    uint32_t keeplimit = 0;  // non-zero: the daily allowance applies beside the time ranges
};

enum class LoginLimit {
    None,       // the login is allowed
    Allowance,  // the day's allowance is used up
    TimeRange,  // the current minute lies outside every time range of the day
};

// The first moment at which a login would be allowed again.
struct NextLogin {
    int daysAhead = 0;    // 0: later today, 1: tomorrow, up to 7
    int weekday = 0;      // of that day, 0 = Sunday
    uint32_t minute = 0;  // minute of that day (hours * 60 + minutes)
    // The time range that opens then; nullopt when that day has no time range to keep to.
    std::optional<DayRange> range;
};

struct LoginVerdict {
    LoginLimit refusedBy = LoginLimit::None;
    // For a refusal: when the account can log in again; nullopt when no moment within the next
    // seven days allows it.
    std::optional<NextLogin> next;

    bool allowed() const { return refusedBy == LoginLimit::None; }
};

// Decides for the policy list `list` at the moment `unixTime` (local time from the C library's
// zone rules). Only the limit record at index 0 (mode "Limit") and the time ranges after it count;
// a list without one, or monitoring off, allows. The stored usage counts only when the record's
// `date` lies on today's local date; the allowance is not enforced for an account with time
// ranges unless keeplimit is set. The ranges follow the daemon's rules (both ends inclusive,
// unsigned, an unset range ignored unless keeplimit is set). The account's grant, when it is for
// today's local date, moves today's allowance as it does the daemon's.
LoginVerdict checkLogin(const Array& list, const LoginSettings& settings, double unixTime,
                        const std::optional<Grant>& grant = std::nullopt);

// The one line shown at the login screen for a refusal of `account`: which limit, and when the
// account can log in again. Empty for an allowed login.
std::string refusalMessage(const std::string& account, const LoginVerdict& verdict);

}  // namespace hv
