#pragma once

// The daemon's nftables table, "inet horavel": one output chain that rejects the traffic of the
// accounts whose network is off, on every interface (present and future), loopback excepted.
// Nothing outside this table is ever touched, so a crash leaves at most this table, which the
// next start clears.

#include <sys/types.h>

#include <set>
#include <string>

namespace hv {

// The whole table for these accounts, as nft reads it from standard input: created if missing,
// deleted and made anew in the same transaction, so it is never seen half-built. With no
// account, the table is removed.
std::string firewallRuleset(const std::set<uid_t>& blocked);

// Loads the ruleset with "nft -f -". False when nft cannot be run or refuses it (the table is
// then as it was: nft applies a file all or nothing).
bool applyFirewall(const std::set<uid_t>& blocked);

}  // namespace hv
