#pragma once

// `horavelctl policy list` and `horavelctl policy remove USER`: the managed accounts as the
// root-held store holds them.

#include <iosfwd>
#include <string>

#include "platform/config.h"
#include "tools/install_runner.h"

namespace hv {

// One line per account with a store entry, by name: today's minutes used (counted on today's local
// date only), the day's allowance, the grant and what the day allows with it. An entry that cannot
// be read is listed as such. Exit status 0, or 1 when the store cannot be read at all.
int runPolicyList(const Config& config, double unixTime, std::ostream& out, std::ostream& err);

// Removes the account's store entry, its previous copy, its grant and its home file, then signals
// the daemon, which from then on treats the account as unmanaged (without a policy: no limits).
// Exit status 1 when the account has no store entry or a file cannot be removed.
int runPolicyRemove(const Config& config, const std::string& user, const ReloadSignal& reload, std::ostream& out,
                    std::ostream& err);

}  // namespace hv
