#include <sys/stat.h>

#include "common/policy_store.h"
#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "daemon/monitor.h"

namespace hv {

namespace {

// Permission bits kept from a loaded home policy file; set-id and sticky bits never survive a save.
constexpr mode_t kKeptPolicyBits = 0666;
// The store is root's alone; the home copy of a managed account is root's and readable by all,
// as the administrator's tool writes it.
constexpr mode_t kStoreDirectoryMode = 0700;
constexpr mode_t kStoreFileMode = 0600;
constexpr mode_t kMirrorMode = 0644;
constexpr FileOwner kRoot{0, 0};
// A failed save is tried again once a minute, not on every tick.
constexpr double kSaveRetrySeconds = 60;
// A grant is one short line.
constexpr size_t kMaxGrantBytes = 64;

}  // namespace

std::optional<std::string> Monitor::userCurrent() {
    // One look per tick: the tick, the policy load it may make and the publishing share it.
    if (!inTick) return system.consoleUser();
    if (!tickConsole) tickConsole = system.consoleUser();
    return *tickConsole;
}

void Monitor::loadUserData() {
    // Once the first tick has run for the outgoing user, the seconds counter is theirs: kept
    // for their return.
    if (!switched && user && !user->empty()) {
        carriedSeconds[*user] = CarriedSeconds{uminsec, system.now()};
    }
    user = userCurrent();
    userlist.clear();
    policyTrusted = false;
    policyFile.reset();
    policyReplaced = false;
    managed = false;
    storeFallback = false;
    unsavedMinutes = false;
    saveFailedAt.reset();
    mirrorFailing = false;
    grant.reset();
    // The day as loaded (a policy set with its counts, the first login of the day) is history too,
    // written with the first tick's save.
    historyMinutes = true;

    if (user && usableAccountName(*user)) {
        StoredPolicy stored = readStoredPolicy(
            config, *user, [this](const std::string& path) { return system.readFile(path, kMaxFileBytes); });
        if (stored.managed) {
            // A managed account's policy and counts come from the store alone: its home file is
            // the child's to delete, stash or rewrite, and is never read back.
            managed = true;
            if (!stored.problem.empty()) {
                logIt("policy store entry " + stored.problem +
                      (stored.list ? "; its previous copy is used" : "; no policy loaded"));
            }
            if (stored.list) {
                userlist = std::move(*stored.list);
                policyTrusted = true;
                policyFile = stored.info;
                storeFallback = stored.fromPrevious;
            }
            loadGrant();
        } else {
            loadHomePolicy();
        }
    }

    logIt("data loaded for " + formatObject(user));
    switched = true;
}

void Monitor::loadGrant() {
    const std::string path = config.storeGrantPath(*user);
    ReadResult read = system.readFile(path, kMaxGrantBytes);
    if (!read.bytes) {
        if (!read.missing) logIt("grant file " + path + " cannot be read: " + read.error);
        return;
    }
    if (!read.info || !writableOnlyByRoot(*read.info)) {
        logIt("grant file " + path + " ignored: not owned by root and writable only by root");
        return;
    }
    grant = parseGrant(*read.bytes);
    if (!grant) logIt("grant file " + path + " ignored: it is not one line \"YYYYMMDD MINUTES\"");
}

void Monitor::loadHomePolicy() {
    const std::string path = config.policyPath(*user);
    ReadResult read = system.readFile(path, kMaxFileBytes);
    if (!read.bytes) {
        if (!read.missing) logIt("policy file " + path + " cannot be read: " + read.error);
        return;
    }
    PolicyListDecode decoded = decodePolicyList(*read.bytes);
    if (!decoded.list) {
        logIt("policy file " + path + " ignored: it " + decoded.why);
        return;
    }
    userlist = std::move(*decoded.list);
    policyTrusted = read.info && writableOnlyByRoot(*read.info);
    policyFile = read.info;
    // A file root alone wrote is the administrator's policy: from now on the store keeps it,
    // out of the child's reach. A file the child could have written is never promoted.
    if (policyTrusted && writeStore(*read.bytes)) {
        managed = true;
        logIt("policy of " + *user + " imported into " + config.storePolicyPath(*user));
    }
}

bool Monitor::writeStore(const std::string& bytes) {
    const std::string path = config.storePolicyPath(*user);
    // Made once per run, and again after a write failed (the store may have been removed).
    if (!storeDirectoriesMade && (!system.makeRootDirectory(config.storeRoot, kStoreDirectoryMode) ||
                                  !system.makeRootDirectory(config.storeRoot + "/policies", kStoreDirectoryMode))) {
        return false;
    }
    // The entry that served is the previous good copy from now on; one that could not be used
    // never takes that place.
    if (!storeFallback && system.fileExists(path)) {
        system.linkFile(path, config.storePreviousPath(*user));
    }
    storeDirectoriesMade = system.writeFileAtomic(path, bytes, kStoreFileMode, kRoot);
    if (!storeDirectoriesMade) return false;
    storeFallback = false;
    policyFile = system.fileInfo(path);
    return true;
}

void Monitor::updateUser(const std::optional<std::string>& name, int32_t index) {
    if (name && user && *name == *user && countMinute(index)) {
        saveUserList(name);
    }
}

bool Monitor::countMinute(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= userlist.size()) {
        return false;
    }
    const std::shared_ptr<TableElement> record = recordAt(userlist, static_cast<size_t>(index));
    if (record == nullptr) {
        return false;
    }
    // The stored count is a 32-bit signed number; adding one wraps as it does there.
    const uint32_t usage = static_cast<uint32_t>(record->usage().intValue()) + 1u;
    record->setUsage(Value::integer(static_cast<int32_t>(usage), 'i'));
    record->setDate(calendarDate().toValue());
    unsavedMinutes = true;
    historyMinutes = true;
    return true;
}

void Monitor::saveIfUnsaved() {
    const bool waiting = saveFailedAt && system.now() - *saveFailedAt < kSaveRetrySeconds &&
                         system.now() >= *saveFailedAt;
    if (unsavedMinutes && !waiting) saveUserList(user);
    saveHistory();
}

void Monitor::saveUserList(const std::optional<std::string>& name) {
    // Only the loaded account's list is ever saved, and only to that account's files: the owner
    // and mode kept from the loaded file belong to it alone.
    if (!name || !user || *name != *user || !usableAccountName(*name)) {
        return;
    }
    const std::string path = managed ? config.storePolicyPath(*name) : config.policyPath(*name);
    // A root-owned file at the path other than the one loaded (or last saved) means the
    // administrator replaced the list meanwhile: horavelset installs a new policy and then
    // signals, and a save before that signal is handled would put the old list back over the
    // new one, which the reload would then read. The new file wins; the counted minutes stay in
    // memory (and in the day's highest count) until the next load. A replacement that anyone
    // else made is overwritten as ever.
    if (policyFile) {
        const std::optional<FileInfo> current = system.fileInfo(path);
        if (current && current->uid == 0 && S_ISREG(current->mode) &&
            (current->device != policyFile->device || current->inode != policyFile->inode)) {
            if (!policyReplaced) {
                logIt("policy file " + path + " was replaced since it was loaded; not overwritten");
                policyReplaced = true;
            }
            return;
        }
    }
    const std::optional<std::string> bytes = keyedArchive(Value(userlist));
    bool saved = false;
    if (bytes && managed) {
        saved = writeStore(*bytes);
        // The home copy keeps its meaning for anything that reads it; it is written the safe
        // way (never through a link) and never read back.
        const bool mirrored = saved && system.writeFileAtomic(config.policyPath(*name), *bytes, kMirrorMode, kRoot);
        if (saved && !mirrored && !mirrorFailing) {
            logIt("policy of " + *name + " could not be copied to " + config.policyPath(*name));
        }
        mirrorFailing = saved && !mirrored;
    } else if (bytes) {
        const mode_t mode = policyFile ? (policyFile->mode & kKeptPolicyBits) : mode_t{0644};
        std::optional<FileOwner> owner;
        if (policyFile) owner = FileOwner{policyFile->uid, policyFile->gid};
        saved = system.writeFileAtomic(path, *bytes, mode, owner);
        if (saved && policyFile) {
            if (const std::optional<FileInfo> written = system.fileInfo(path)) {
                policyFile->device = written->device;
                policyFile->inode = written->inode;
            }
        }
    }
    // A failed save keeps the minutes in memory; it is said once, and tried again each minute
    // until one succeeds.
    if (saved) {
        unsavedMinutes = false;
        saveFailedAt.reset();
    } else {
        if (!saveFailedAt) logIt("policy of " + *name + " could not be saved to " + path);
        saveFailedAt = system.now();
    }
}

}  // namespace hv
