#include "tools/policy_admin.h"

#include <algorithm>
#include <iomanip>
#include <map>
#include <ostream>
#include <vector>

#include "common/grant.h"
#include "common/policy_store.h"
#include "common/table_element.h"
#include "foundation/calendar_date.h"
#include "platform/linux/files.h"
#include "tools/grant_command.h"

namespace hv {
namespace {

constexpr const char* kEntrySuffix = ".horavel";

// The accounts that have a store entry (or only its previous copy), by name.
std::optional<std::vector<std::string>> managedAccounts(const Config& config) {
    std::optional<std::vector<std::string>> names = directoryNames(config.storeRoot + "/policies");
    if (!names) return std::nullopt;
    std::vector<std::string> accounts;
    for (std::string name : *names) {
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".prev") == 0) name.resize(name.size() - 5);
        const size_t suffix = std::string(kEntrySuffix).size();
        if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kEntrySuffix) != 0) continue;
        name.resize(name.size() - suffix);
        if (usableAccountName(name)) accounts.push_back(name);
    }
    std::sort(accounts.begin(), accounts.end());
    accounts.erase(std::unique(accounts.begin(), accounts.end()), accounts.end());
    return accounts;
}

// Minutes the limit record holds for the local date of `unixTime`.
uint32_t usedOn(const TableElement& limit, double unixTime) {
    const Date* stamp = limit.date().date();
    if (stamp == nullptr || localDay(CalendarDate::fromValue(*stamp).unixTime()) != localDay(unixTime)) return 0;
    return static_cast<uint32_t>(limit.usage().intValue());
}

}  // namespace

int runPolicyList(const Config& config, double unixTime, std::ostream& out, std::ostream& err) {
    const std::optional<std::vector<std::string>> accounts = managedAccounts(config);
    if (!accounts) {
        if (!pathExists(config.storeRoot + "/policies")) {
            out << "No managed accounts (the store " << config.storeRoot << " holds no policy).\n";
            return 0;
        }
        err << "horavelctl policy: cannot read " << config.storeRoot << "/policies\n";
        return 1;
    }
    if (accounts->empty()) out << "No managed accounts.\n";
    for (const std::string& account : *accounts) {
        StoredPolicy stored = readStoredPolicy(
            config, account, [](const std::string& path) { return readRegularFile(path, kMaxStoreFile); });
        out << std::left << std::setw(16) << account;
        if (!stored.list || stored.list->empty() || !recordAt(*stored.list, 0)) {
            out << "store entry cannot be used: " << stored.problem << "\n";
            continue;
        }
        const std::optional<TodaysAllowance> today = todaysAllowance(config, account, unixTime);
        const uint32_t used = usedOn(*recordAt(*stored.list, 0), unixTime);
        out << "used " << used << " min";
        if (!today || today->allowance == 0) {
            out << ", no limit today";
        } else {
            out << " of " << grantedAllowance(today->allowance, today->granted) << " (allowance " << today->allowance;
            if (today->granted != 0) out << ", grant " << (today->granted > 0 ? "+" : "") << today->granted;
            out << ")";
        }
        if (stored.fromPrevious) out << "; entry unusable, its previous copy serves";
        out << "\n";
    }
    return 0;
}

std::optional<CommandError> removePolicy(const Config& config, const std::string& user, const ReloadSignal& reload,
                                         std::ostream& out) {
    if (!usableAccountName(user)) return invalidRequest("horavelctl policy: \"" + user + "\" is not an account name");
    const StoredPolicy stored =
        readStoredPolicy(config, user, [](const std::string& path) { return readRegularFile(path, kMaxStoreFile); });
    if (!stored.managed) return invalidRequest("horavelctl policy: " + user + " has no policy in the store");
    // The store entry goes last: until it is gone the account stays managed, so a failure part
    // way never leaves the child's home file to be imported as the administrator's.
    for (const std::string& path : {config.policyPath(user), config.storeGrantPath(user),
                                    config.storePreviousPath(user), config.storePolicyPath(user)}) {
        if (pathExists(path) && !removePath(path)) return failedRequest("horavelctl policy: cannot remove " + path);
    }
    out << "Removed the policy of " << user << ": no limits apply to " << user << " any more.\n";
    if (!reload()) out << kDaemonNotRunning << "\n";
    return std::nullopt;
}

int runPolicyRemove(const Config& config, const std::string& user, const ReloadSignal& reload, std::ostream& out,
                    std::ostream& err) {
    if (auto error = removePolicy(config, user, reload, out)) {
        err << error->line << "\n";
        return 1;
    }
    return 0;
}

Outcome<Json> accountsJson(const Config& config, double unixTime, const std::vector<Account>& accounts) {
    const std::optional<std::vector<std::string>> managed = managedAccounts(config);
    if (!managed && pathExists(config.storeRoot + "/policies")) {
        return {std::nullopt, failedRequest("horavelctl policy: cannot read " + config.storeRoot + "/policies")};
    }
    std::map<std::string, Json> byName;
    for (const Account& account : accounts) {
        if (account.uid >= kFirstOrdinaryUid && account.name != "nobody" && account.uid != kNobodyUid) {
            byName[account.name] = {{"name", account.name}, {"uid", account.uid}, {"managed", false}};
        }
    }
    for (const std::string& name : managed ? *managed : std::vector<std::string>{}) {
        auto known = std::find_if(accounts.begin(), accounts.end(), [&](const Account& a) { return a.name == name; });
        Json entry = {{"name", name}, {"uid", known == accounts.end() ? Json() : Json(known->uid)}, {"managed", true}};
        const StoredPolicy stored = readStoredPolicy(
            config, name, [](const std::string& path) { return readRegularFile(path, kMaxStoreFile); });
        const std::optional<TodaysAllowance> today = todaysAllowance(config, name, unixTime);
        const std::shared_ptr<TableElement> limit =
            stored.list && !stored.list->empty() ? recordAt(*stored.list, 0) : nullptr;
        entry["today"] = {{"used", limit ? usedOn(*limit, unixTime) : 0},
                          {"allowance", today ? today->allowance : 0},
                          {"granted", today ? today->granted : 0}};
        byName[name] = std::move(entry);
    }
    Json list = Json::array();
    for (auto& [name, entry] : byName) list.push_back(std::move(entry));
    return {std::move(list), std::nullopt};
}

}  // namespace hv
