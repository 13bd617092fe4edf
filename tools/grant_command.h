#pragma once

// `horavelctl grant USER MINUTES` and `horavelctl grant USER --show`: extra minutes for today
// only, kept in the root-held store (common/grant.h) for the daemon and the login check.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/config.h"
#include "tools/command_error.h"
#include "tools/install_runner.h"

namespace hv {

// The work of runGrant, saying on `out` what the day now allows (and when the history could not record
// the grant, which stands all the same); the value is today's total grant after the change. Invalid: not
// an account name, or no store entry; Failed: an entry that cannot be read, or a grant that cannot
// be written.
Outcome<int32_t> grantToday(const Config& config, const std::string& user, int32_t minutes, double unixTime,
                            const ReloadSignal& reload, std::ostream& out);

// Adds `minutes` (negative takes away) to the account's grant for `unixTime`'s local date, never
// letting the day's total fall below minus that day's allowance, writes it root-only, records it
// in the usage history (a grant event with the minutes it changed; a history that cannot be
// written is said on `err` and fails nothing), signals the daemon and says what the day now allows. The account must have a policy in the store. Errors
// are one line on `err` and exit status 1.
int runGrant(const Config& config, const std::string& user, int32_t minutes, double unixTime,
             const ReloadSignal& reload, std::ostream& out, std::ostream& err);

// A managed account's allowance for `unixTime`'s weekday (0 = no limit) and its grant for that
// date; nullopt when the store has no usable entry for it.
struct TodaysAllowance {
    uint32_t allowance = 0;
    int32_t granted = 0;
};
std::optional<TodaysAllowance> todaysAllowance(const Config& config, const std::string& user, double unixTime);

// Prints today's grant of the account and what the day allows with it.
int runGrantShow(const Config& config, const std::string& user, double unixTime, std::ostream& out,
                 std::ostream& err);

}  // namespace hv
