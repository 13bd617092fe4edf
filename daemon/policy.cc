#include <sys/stat.h>

#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "daemon/monitor.h"

namespace hv {

namespace {

// Permission bits kept from a loaded policy file; set-id and sticky bits never survive a save.
constexpr mode_t kKeptPolicyBits = 0666;

// A console user name becomes one path component under the home root; anything that would
// leave that directory names no policy file.
bool usableName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// A reason may quote the file (a class name, a key); the child wrote that, so it must not be able
// to start a line of its own in the log.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return text;
}

// The list of records that the archive holds, or the reason it holds none.
std::optional<Array> policyList(const Value& root, std::string& why) {
    const Array* list = root.array();
    if (list == nullptr) {
        why = "its root is not a list";
        return std::nullopt;
    }
    for (size_t i = 0; i < list->size(); ++i) {
        if (recordAt(*list, i) == nullptr) {
            why = "element " + std::to_string(i) + " is not a policy record";
            return std::nullopt;
        }
    }
    return *list;
}

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

    if (user && usableName(*user)) {
        const std::string path = config.policyPath(*user);
        ReadResult read = system.readFile(path, kMaxFileBytes);
        if (read.bytes) {
            DecodeResult decoded = keyedUnarchive(*read.bytes);
            std::string why;
            if (!decoded.ok()) {
                logIt("policy file " + path + " ignored: " + printable(decoded.error->message));
            } else if (std::optional<Array> list = policyList(decoded.value, why)) {
                userlist = std::move(*list);
                policyTrusted = read.info && writableOnlyByRoot(*read.info);
                policyFile = read.info;
            } else {
                logIt("policy file " + path + " ignored: " + printable(why));
            }
        } else if (!read.missing) {
            logIt("policy file " + path + " cannot be read: " + printable(read.error));
        }
    }

    logIt("data loaded for " + formatObject(user));
    switched = true;
}

void Monitor::updateUser(const std::optional<std::string>& name, int32_t index) {
    if (countMinute(index)) {
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
    return true;
}

void Monitor::saveUserList(const std::optional<std::string>& name) {
    if (!name || !usableName(*name)) {
        return;
    }
    const std::string path = config.policyPath(*name);
    // A root-owned file at the path other than the one loaded (or last saved) means the
    // administrator replaced the list meanwhile: horavelset installs a new policy and then
    // signals, and a save before that signal is handled would put the old list back over the
    // new one, which the reload would then read. The new file wins; the counted minutes stay in
    // memory until the next load. A replacement that anyone else made is overwritten as ever.
    const bool loadedHere = policyFile && user && *user == *name;
    if (loadedHere) {
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
    // A failed save is not reported: the records keep their new values in memory and the next
    // counted minute writes them again.
    if (std::optional<std::string> bytes = keyedArchive(Value(userlist))) {
        const mode_t mode = policyFile ? (policyFile->mode & kKeptPolicyBits) : mode_t{0644};
        std::optional<FileOwner> owner;
        if (policyFile) owner = FileOwner{policyFile->uid, policyFile->gid};
        if (system.writeFileAtomic(path, *bytes, mode, owner) && loadedHere) {
            if (const std::optional<FileInfo> saved = system.fileInfo(path)) {
                policyFile->device = saved->device;
                policyFile->inode = saved->inode;
            }
        }
    }
}

}  // namespace hv
