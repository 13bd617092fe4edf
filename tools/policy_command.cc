#include "tools/policy_command.h"

#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "common/policy_store.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "foundation/typedstream.h"
#include "platform/linux/files.h"
#include "tools/policy.h"
#include "tools/read_input.h"

namespace hv {
namespace {

constexpr size_t kMaxPolicyFile = 1 << 20;

bool knownUser(const std::string& user) {
    return !user.empty() && user.find('/') == std::string::npos && ::getpwnam(user.c_str()) != nullptr;
}

struct LoadedPolicy {
    Array records;
    bool missing = false;
    std::optional<std::string> error;
    std::string path;        // the file the records came from
    bool fromStore = false;  // the account is managed: the store entry (or its previous copy) served
    std::string storeProblem;  // why the entry itself did not serve, when its previous copy did
};

LoadedPolicy loadHomePolicy(const std::string& path) {
    LoadedPolicy loaded;
    loaded.path = path;
    ReadResult file = readRegularFile(path, kMaxPolicyFile);
    if (file.missing) {
        loaded.missing = true;
        return loaded;
    }
    if (!file.bytes) {
        loaded.error = path + ": " + file.error;
        return loaded;
    }
    DecodeResult decoded = keyedUnarchive(*file.bytes);
    if (!decoded.ok()) {
        loaded.error = path + ": not a valid policy file: " + decoded.error->message + " at byte offset " +
                       std::to_string(decoded.error->offset);
        return loaded;
    }
    if (!decoded.value.array()) {
        loaded.error = path + ": not a valid policy file: its root is not a list";
        return loaded;
    }
    loaded.records = *decoded.value.array();
    return loaded;
}

// The policy the daemon would load for the account: its store entry when it is managed, else its
// home file.
LoadedPolicy loadPolicy(const Config& config, const std::string& user) {
    StoredPolicy stored =
        readStoredPolicy(config, user, [](const std::string& path) { return readRegularFile(path, kMaxStoreFile); });
    if (!stored.managed) return loadHomePolicy(config.policyPath(user));
    LoadedPolicy loaded;
    loaded.fromStore = true;
    loaded.path = stored.fromPrevious ? config.storePreviousPath(user) : config.storePolicyPath(user);
    if (!stored.list) {
        loaded.error = "the store entry cannot be used: " + stored.problem;
        return loaded;
    }
    loaded.records = std::move(*stored.list);
    if (stored.fromPrevious) loaded.storeProblem = stored.problem;
    return loaded;
}

// Whether the settings keep the daily allowance beside time ranges.
bool keepsLimit(const Config& config) {
    ReadResult file = readRegularFile(config.settingsFile, kMaxPolicyFile);
    if (!file.bytes) return false;
    DecodeResult settings = readPropertyList(*file.bytes);
    return settings.ok() && settings.value["keeplimit"].intValue() != 0;
}

}  // namespace

int runPolicyShow(const Config& config, const std::string& user, bool asJson, std::ostream& out,
                  std::ostream& err) {
    if (!knownUser(user)) {
        err << "horavelctl policy: no such user \"" << user << "\"\n";
        return 1;
    }
    const std::string path = config.policyPath(user);
    LoadedPolicy loaded = loadPolicy(config, user);
    if (loaded.missing) {
        if (asJson) {
            out << policyToJson(Policy{}).dump(2) << "\n";
        } else {
            out << user << " has no policy (" << path << " does not exist): no limits apply.\n";
        }
        return 0;
    }
    if (loaded.error) {
        err << "horavelctl policy: " << *loaded.error << "\n";
        return 1;
    }
    RecordsParse parsed = recordsToPolicy(loaded.records);
    if (parsed.error) {
        err << "horavelctl policy: " << path << ": " << *parsed.error << "\n";
        return 1;
    }
    if (asJson) {
        out << policyToJson(parsed.policy).dump(2) << "\n";
        return 0;
    }
    out << renderPolicy(user, loaded.path, loaded.records, parsed.policy);
    if (loaded.fromStore) {
        out << "Kept in the root-held store, which the daemon reads for " << user << "; " << path
            << " is only its copy.\n";
        if (!loaded.storeProblem.empty()) {
            out << "Note: the store entry cannot be used (" << loaded.storeProblem
                << "); this is its previous copy, which the daemon uses too.\n";
        }
        return 0;
    }
    out << "Read from " << user << "'s home folder: not in the root-held store yet (horavelctl policy set "
           "puts it there).\n";
    // The daemon runs the script only from a file that root alone could have written.
    std::optional<FileInfo> info = pathInfo(path);
    if (info && !writableOnlyByRoot(*info)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info->mode & 07777));
        out << "Note: " << path << " is not root's alone (owner uid " << info->uid << ", mode " << mode
            << "): its limits apply, but the daemon will not run its script.\n";
    }
    return 0;
}

std::optional<CommandError> installPolicy(const Config& config, const std::string& user, std::string_view text,
                                         const std::string& inputName, const Installer& installer,
                                         std::ostream& out) {
    if (!knownUser(user)) return invalidRequest("horavelctl policy: no such user \"" + user + "\"");
    PolicyParse parsed = parsePolicyText(text);
    if (parsed.error) return invalidRequest("horavelctl policy: " + inputName + ": " + *parsed.error);
    const std::string home = config.homeRoot + "/" + user;
    struct stat st {};
    if (::stat(home.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return failedRequest("horavelctl policy: " + user + " has no folder " + home + " to keep the policy in");
    }
    const std::string path = config.policyPath(user);
    // Today's counts carry over, so a changed rule does not hand out a fresh allowance; a file
    // that cannot be read has none to give.
    LoadedPolicy current = loadPolicy(config, user);
    Usage usage = current.error ? Usage{} : usageOf(current.records);
    Array records = policyToRecords(parsed.policy, user, path, usage);
    auto archive = typedstreamArchive(Value(std::move(records)));
    if (!archive) return failedRequest("horavelctl policy: the policy could not be archived");
    if (auto failure = installer(*archive)) return failedRequest("horavelctl policy: " + *failure);
    out << "Policy of " << user << " installed in " << config.storePolicyPath(user) << ", with its copy in "
        << path << ".\n";
    if (!parsed.policy.ranges.empty() && !keepsLimit(config) &&
        std::any_of(parsed.policy.allowance.begin(), parsed.policy.allowance.end(), [](int32_t m) { return m != 0; })) {
        out << "Note: the setting keeplimit is off, so while time ranges are set the daily allowance is not "
               "enforced (horavelctl settings set keeplimit=1 enforces both).\n";
    }
    return std::nullopt;
}

int runPolicySet(const Config& config, const std::string& user, const std::string& file,
                 const Installer& installer, std::ostream& out, std::ostream& err) {
    if (!knownUser(user)) {
        err << "horavelctl policy: no such user \"" << user << "\"\n";
        return 1;
    }
    InputResult input = readInput(file);
    if (!input.bytes) {
        err << "horavelctl policy: " << input.error << "\n";
        return 1;
    }
    if (auto error = installPolicy(config, user, *input.bytes, file == "-" ? kStandardInput : file, installer, out)) {
        err << error->line << "\n";
        return 1;
    }
    return 0;
}

Outcome<Json> storedPolicyJson(const Config& config, const std::string& user) {
    if (!knownUser(user)) return {std::nullopt, invalidRequest("horavelctl policy: no such user \"" + user + "\"")};
    LoadedPolicy loaded = loadPolicy(config, user);
    if (!loaded.fromStore) {
        return {std::nullopt, invalidRequest("horavelctl policy: " + user + " has no policy in the store")};
    }
    if (loaded.error) return {std::nullopt, failedRequest("horavelctl policy: " + *loaded.error)};
    RecordsParse parsed = recordsToPolicy(loaded.records);
    if (parsed.error) return {std::nullopt, failedRequest("horavelctl policy: " + loaded.path + ": " + *parsed.error)};
    return {policyToJson(parsed.policy), std::nullopt};
}

}  // namespace hv
