#include "installtool/install.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>

#include "common/policy_store.h"
#include "common/table_element.h"
#include "foundation/keyed_archive.h"
#include "foundation/property_list.h"
#include "foundation/typedstream.h"
#include "platform/linux/files.h"

namespace hv {
namespace {

// The settings file must not be world-writable: any account could switch monitoring off.
constexpr mode_t kSettingsMode = 0644;
// Root-owned and not writable by others, so the daemon may run the account's script from it.
constexpr mode_t kPolicyMode = 0644;
// The store is root's alone.
constexpr mode_t kStoreDirectoryMode = 0700;
constexpr mode_t kStoreFileMode = 0600;
// A pid file holds a number and a newline; anything longer is not one.
constexpr size_t kMaxPidFile = 64;

bool allStringKeys(const Dictionary& dict) {
    for (const auto& [key, value] : dict) {
        if (!key.string()) return false;
    }
    return true;
}

InstallResult installSettings(const Value& root, const Config& config) {
    InstallResult result;
    result.target = config.settingsFile;
    if (!allStringKeys(*root.dictionary())) return result;
    auto xml = writeXmlPropertyList(root);
    if (!xml) return result;
    if (!writeFileAtomically(config.settingsFile, *xml, kSettingsMode)) {
        result.outcome = InstallOutcome::WriteFailed;
        return result;
    }
    result.outcome = InstallOutcome::Settings;
    result.signal = sendEvent(root["status"].intValue(), config);
    return result;
}

// The account whose home policy file `path` is ("<home root>/<account>/.horavel" of an account
// the user database knows), or nullopt.
std::optional<std::string> accountOfPolicyPath(const std::string& path, const Config& config) {
    const std::string prefix = config.homeRoot + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::string account = path.substr(prefix.size(), path.find('/', prefix.size()) - prefix.size());
    if (!usableAccountName(account) || path != config.policyPath(account) ||
        ::getpwnam(account.c_str()) == nullptr) {
        return std::nullopt;
    }
    return account;
}

// Installs the archive as the account's store entry; the entry it replaces, if it was a usable
// policy, becomes the previous copy.
bool writeStoreEntry(const std::string& account, const std::string& archive, const Config& config) {
    if (!makeRootDirectory(config.storeRoot, kStoreDirectoryMode) ||
        !makeRootDirectory(config.storeRoot + "/policies", kStoreDirectoryMode)) {
        return false;
    }
    const std::string entry = config.storePolicyPath(account);
    ReadResult current = readRegularFile(entry, kMaxStoreFile);
    if (current.bytes && decodePolicyList(*current.bytes).list) {
        linkReplacing(entry, config.storePreviousPath(account));
    }
    return writeFileAtomically(entry, archive, kStoreFileMode, FileOwner{0, 0});
}

InstallResult installPolicy(const Value& root, const Config& config) {
    InstallResult result;
    const Array& list = *root.array();
    if (list.empty()) {
        result.outcome = InstallOutcome::EmptyList;
        return result;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        if (!recordAt(list, i)) return result;
    }
    const std::string* path = recordAt(list, 0)->path().string();
    if (!path || path->empty() || path->front() != '/' ||
        path->find('\0') != std::string::npos) {
        return result;
    }
    result.target = *path;
    auto archive = keyedArchive(root);
    if (!archive) return result;
    // An account's policy goes to the root-held store, which the daemon reads for that account
    // from now on; the home file is then its copy, which the daemon also rewrites as it counts.
    const std::optional<std::string> account = accountOfPolicyPath(*path, config);
    if (account && !writeStoreEntry(*account, *archive, config)) {
        result.target = config.storePolicyPath(*account);
        result.outcome = InstallOutcome::WriteFailed;
        return result;
    }
    if (!writeFileAtomically(*path, *archive, kPolicyMode) && !account) {
        result.outcome = InstallOutcome::WriteFailed;
        return result;
    }
    result.outcome = InstallOutcome::Policy;
    result.signal = sendEvent(2, config);
    return result;
}

}  // namespace

std::optional<std::string> readAllBounded(int fd, size_t maxBytes) {
    std::string buffer;
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) return buffer;
        if (buffer.size() + static_cast<size_t>(n) > maxBytes) return std::nullopt;
        buffer.append(chunk, static_cast<size_t>(n));
    }
}

std::optional<pid_t> parsePid(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    pid_t pid = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), pid);
    if (ec != std::errc() || end == text.data() + i || pid <= 1) return std::nullopt;
    return pid;
}

int sendEvent(int event, const Config& config) {
    int signo = 0;
    switch (event) {
        case 0: signo = SIGUSR2; break;
        case 1: signo = SIGUSR1; break;
        case 2: signo = SIGHUP; break;
        default: return 0;
    }
    ReadResult file = readRegularFile(config.pidFile, kMaxPidFile);
    if (!file.bytes) return 0;
    auto pid = parsePid(*file.bytes);
    if (!pid) return 0;
    // SIGHUP and SIGUSR1/2 end a process that does not handle them: only the daemon gets them.
    ReadResult comm = readRegularFile("/proc/" + std::to_string(*pid) + "/comm", kMaxPidFile);
    if (!comm.bytes || *comm.bytes != config.daemonName + "\n") return 0;
    // A stale pid naming no process is not an error: the daemon reads the file when it starts.
    if (::kill(*pid, signo) != 0) return 0;
    return signo;
}

int InstallResult::exitStatus() const {
    return outcome == InstallOutcome::Settings || outcome == InstallOutcome::Policy ||
                   outcome == InstallOutcome::EmptyList
               ? 0
               : 1;
}

InstallResult install(std::string_view input, const Config& config) {
    if (input.empty()) return {};
    DecodeResult decoded = typedstreamUnarchive(input);
    if (!decoded.ok()) return {};
    if (decoded.value.dictionary()) return installSettings(decoded.value, config);
    if (decoded.value.array()) return installPolicy(decoded.value, config);
    return {};
}

}  // namespace hv
