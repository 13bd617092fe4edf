#pragma once

// `horavelctl policy list` and `horavelctl policy remove USER`: the managed accounts as the
// root-held store holds them.

#include <sys/types.h>

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/config.h"
#include "tools/command_error.h"
#include "tools/install_runner.h"
#include "tools/json_text.h"

namespace hv {

// One line per account with a store entry, by name: today's minutes used (counted on today's local
// date only), the day's allowance, the grant and what the day allows with it. An entry that cannot
// be read is listed as such. Exit status 0, or 1 when the store cannot be read at all.
int runPolicyList(const Config& config, double unixTime, std::ostream& out, std::ostream& err);

// The work of runPolicyRemove, saying on `out` what was done. Invalid: not an account name, or
// no store entry; Failed: a file that cannot be removed.
std::optional<CommandError> removePolicy(const Config& config, const std::string& user, const ReloadSignal& reload,
                                         std::ostream& out);

// Removes the account's store entry, its previous copy, its grant and its home file, then signals
// the daemon, which from then on treats the account as unmanaged (without a policy: no limits).
// Exit status 1 when the account has no store entry or a file cannot be removed.
int runPolicyRemove(const Config& config, const std::string& user, const ReloadSignal& reload, std::ostream& out,
                    std::ostream& err);

// An account of the system's user database.
struct Account {
    std::string name;
    uid_t uid = 0;
};

// Ordinary accounts start here; "nobody" (65534) is none, whatever its uid.
inline constexpr uid_t kFirstOrdinaryUid = 1000;
inline constexpr uid_t kNobodyUid = 65534;

// By name: every managed account (`managed` true, `uid` null when `accounts` lacks it, and
// "today": used, allowance (0 = no limit) and granted minutes for `unixTime`'s local date, zeros
// for an entry that cannot be read) and every other ordinary account of `accounts` (`managed`
// false). Failed when the store cannot be read.
Outcome<Json> accountsJson(const Config& config, double unixTime, const std::vector<Account>& accounts);

}  // namespace hv
