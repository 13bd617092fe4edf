#pragma once

// Extra minutes for one day: the administrator's grant to an account, kept in the root-held store
// (Config::storeGrantPath) as one line "YYYYMMDD MINUTES\n", the local date it is for and the
// day's total (negative takes time away). `horavelctl grant` writes it; the daemon reads it with
// the policy, and the login check with the store entry. A grant for any other date is no grant.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hv {

struct Grant {
    int day = 0;           // local date as yyyymmdd
    int32_t minutes = 0;   // the day's total
    friend bool operator==(const Grant&, const Grant&) = default;
};

// The file's text, and back; nullopt for anything that is not exactly one such line.
std::string formatGrant(const Grant& grant);
std::optional<Grant> parseGrant(std::string_view text);

// The local date (C library zone rules) of a moment as yyyymmdd, ordered as the dates are; 0 when
// no calendar day holds it.
int localDay(double unixTime);

// Minutes granted for `today`: the grant's total when it is for that date, else 0.
int32_t grantFor(const std::optional<Grant>& grant, int today);

// The day's allowance with the grant added. An allowance of 0 means "no limit" and stays so;
// otherwise the result is never below 0, and 0 then means "no time today" (see limitedToday).
uint32_t grantedAllowance(uint32_t allowance, int32_t granted);

// The lowest total a day may hold: minus the day's allowance (all of it taken away).
int32_t lowestGrant(uint32_t allowance);

}  // namespace hv
