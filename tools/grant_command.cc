#include "tools/grant_command.h"

#include <ostream>

#include "common/grant.h"
#include "common/history.h"
#include "common/history_fold.h"
#include "common/sqlite_history.h"
#include "common/policy_store.h"
#include "common/table_element.h"
#include "foundation/calendar_date.h"
#include "platform/linux/files.h"

namespace hv {
namespace {

constexpr mode_t kStoreDirectoryMode = 0700;
constexpr mode_t kStoreFileMode = 0600;
constexpr size_t kMaxGrantFile = 64;
// The administrator can wait a moment for a database the daemon is writing.
constexpr int kHistoryBusyMilliseconds = 1000;

struct GrantBasis {
    uint32_t allowance = 0;        // today's, 0 = no limit
    std::optional<Grant> current;  // the file's grant, whatever its date
    std::optional<CommandError> error;
};

CommandError grantError(CommandError::Kind kind, const std::string& why) {
    return {kind, "horavelctl grant: " + why};
}

// Today's allowance from the account's store entry, and the grant file as it stands.
GrantBasis basisOf(const Config& config, const std::string& user, double unixTime) {
    GrantBasis basis;
    if (!usableAccountName(user)) {
        basis.error = grantError(CommandError::Kind::Invalid, "\"" + user + "\" is not an account name");
        return basis;
    }
    StoredPolicy stored =
        readStoredPolicy(config, user, [](const std::string& path) { return readRegularFile(path, kMaxStoreFile); });
    if (!stored.managed) {
        basis.error = grantError(CommandError::Kind::Invalid,
                                 user + " has no policy in the store (horavelctl policy set " + user + " FILE first)");
        return basis;
    }
    if (!stored.list || stored.list->empty() || !recordAt(*stored.list, 0)) {
        basis.error = grantError(CommandError::Kind::Failed, user + "'s store entry cannot be used: " + stored.problem);
        return basis;
    }
    const int weekday = CalendarDate(unixTime).dayOfWeek();
    basis.allowance = static_cast<uint32_t>(recordAt(*stored.list, 0)->day(weekday).intValue());
    ReadResult file = readRegularFile(config.storeGrantPath(user), kMaxGrantFile);
    if (file.bytes) basis.current = parseGrant(*file.bytes);
    return basis;
}

std::string signedMinutes(int32_t minutes) {
    return (minutes > 0 ? "+" : "") + std::to_string(minutes);
}

void describe(const std::string& user, uint32_t allowance, int32_t granted, std::ostream& out) {
    if (allowance == 0) {
        out << user << " has no allowance today (no limit), so a grant changes nothing today; today's grant is "
            << signedMinutes(granted) << " minutes.\n";
        return;
    }
    out << user << " may use " << grantedAllowance(allowance, granted) << " minutes today (allowance " << allowance
        << ", grant " << signedMinutes(granted) << ").\n";
}

}  // namespace

Outcome<int32_t> grantToday(const Config& config, const std::string& user, int32_t minutes, double unixTime,
                            const ReloadSignal& reload, std::ostream& out) {
    GrantBasis basis = basisOf(config, user, unixTime);
    if (basis.error) return {std::nullopt, basis.error};
    const int today = localDay(unixTime);
    const int64_t sum = static_cast<int64_t>(grantFor(basis.current, today)) + minutes;
    const int32_t lowest = lowestGrant(basis.allowance);
    const int32_t total = static_cast<int32_t>(std::clamp<int64_t>(sum, lowest, 24 * 60));
    if (!makeRootDirectory(config.storeRoot, kStoreDirectoryMode) ||
        !makeRootDirectory(config.storeRoot + "/grants", kStoreDirectoryMode) ||
        !writeFileAtomically(config.storeGrantPath(user), formatGrant(Grant{today, total}), kStoreFileMode,
                             FileOwner{0, 0})) {
        return {std::nullopt, grantError(CommandError::Kind::Failed, "cannot write " + config.storeGrantPath(user))};
    }
    // The grant is an event of the day's history, and the day's grant and allowance with it. The
    // grant stands even when the history cannot take it.
    const int32_t given = total - grantFor(basis.current, today);
    if (given != 0) {
        SqliteHistory history(config.storeHistoryPath(), kHistoryBusyMilliseconds);
        const HistoryWrite write{{{user, today, std::nullopt, basis.allowance, total, {}}},
                                 {{user, today, historyTime(unixTime), kEventGrant, std::to_string(given)}},
                                 {}};
        std::string error;
        // The daemon's saves made before the grant go in first, so that none of them, folded later,
        // puts back the allowance and grant of before. A fold that fails changes nothing: the
        // daemon's next save carries the grant.
        (void)foldHistoryJournal(config.storeHistoryJournalPath(), history, error);
        error.clear();
        if (!history.write(write, error)) out << "Not recorded in the history: " << error << "\n";
    }
    if (total != sum) {
        out << "Today's grant is limited to " << signedMinutes(total) << " minutes (from minus the day's allowance "
            << "to a whole day).\n";
    }
    describe(user, basis.allowance, total, out);
    if (!reload()) out << kDaemonNotRunning << "\n";
    return {total, std::nullopt};
}

int runGrant(const Config& config, const std::string& user, int32_t minutes, double unixTime,
             const ReloadSignal& reload, std::ostream& out, std::ostream& err) {
    Outcome<int32_t> granted = grantToday(config, user, minutes, unixTime, reload, out);
    if (granted.error) {
        err << granted.error->line << "\n";
        return 1;
    }
    return 0;
}

std::optional<TodaysAllowance> todaysAllowance(const Config& config, const std::string& user, double unixTime) {
    GrantBasis basis = basisOf(config, user, unixTime);
    if (basis.error) return std::nullopt;
    return TodaysAllowance{basis.allowance, grantFor(basis.current, localDay(unixTime))};
}

int runGrantShow(const Config& config, const std::string& user, double unixTime, std::ostream& out,
                 std::ostream& err) {
    GrantBasis basis = basisOf(config, user, unixTime);
    if (basis.error) {
        err << basis.error->line << "\n";
        return 1;
    }
    describe(user, basis.allowance, grantFor(basis.current, localDay(unixTime)), out);
    return 0;
}

}  // namespace hv
