#pragma once

// `horavelctl history USER [--days N] [--json]`: an account's usage history, day by day, from the
// root-held store's database, after folding the daemon's journal into it. The admin service's
// History method gives the same document. `horavelctl history --fold` only folds (the daily timer
// runs it, so that the journal stays small when nobody reads).

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/config.h"
#include "tools/command_error.h"
#include "tools/json_text.h"

namespace hv {

// Days shown when none are asked for, and the week whose total is given.
inline constexpr uint32_t kDefaultHistoryDays = 7;

// The history document of `user` (docs/admin-service.md, "History JSON"): the last `days` local
// dates up to `unixTime`'s, oldest first, every date present; a date with nothing stored gives
// the current policy's allowance for its weekday (0 for an unmanaged account) and, for today,
// today's grant. `days` must be 1 to kHistoryDays. An invalid request for a name that cannot be an
// account's or a number of days out of range; a failed one for a database that cannot be read.
// The journal is folded in first; a fold that fails (or skips damaged lines) is one line on
// `notes`, and the document is what the database holds.
Outcome<Json> historyJson(const Config& config, const std::string& user, uint32_t days, double unixTime,
                          std::ostream& notes);

// Folds the journal into the database and says how many saves it applied; a failure is one line
// on `err` and exit status 1.
int runHistoryFold(const Config& config, std::ostream& out, std::ostream& err);

// Prints the document (with `asJson`) or one line per day, "Mon 2026-12-07   42/75 min [bar]
// game 20", and the total of the last 7 days. Errors are one line on `err` and exit status 1.
int runHistory(const Config& config, const std::string& user, uint32_t days, bool asJson, double unixTime,
               std::ostream& out, std::ostream& err);

}  // namespace hv
