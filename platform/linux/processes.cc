#include "platform/linux/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/linux/unique_fd.h"

namespace hv {

namespace {

// A stat line is one record of some 52 numbers and a name of at most 64 characters.
constexpr size_t kStatBuffer = 4096;
// The start time is field 22; fields after the name start at 3.
constexpr int kStartTimeAfterName = 22 - 3;
constexpr std::string_view kDeletedMark = " (deleted)";

std::optional<pid_t> pidOf(const char* name) {
    if (*name < '1' || *name > '9') return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(name, &end, 10);
    if (*end != '\0' || value <= 0 || value > INT_MAX) return std::nullopt;
    return static_cast<pid_t>(value);
}

FileInfo infoOf(const struct stat& st) {
    return FileInfo{st.st_uid, st.st_mode, st.st_gid, st.st_dev, st.st_ino};
}

// Reads the stat record of the open file into `entry`; false when it cannot be read or parsed,
// or the process has exited: a zombie waits only for its parent to collect its status, runs
// nothing, and no signal reaches it.
bool readStat(int fd, ProcessEntry& entry) {
    char buffer[kStatBuffer];
    // The kernel hands over the whole record in one read when the buffer holds it.
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) == sizeof buffer) return false;
    char state = 0;
    return parseProcessStat(std::string(buffer, static_cast<size_t>(n)), entry, state) && state != 'Z' &&
           state != 'X';
}

// `pid`/`leaf` relative to the /proc directory.
void entryPath(char (&path)[32], pid_t pid, const char* leaf) {
    std::snprintf(path, sizeof path, "%d/%s", static_cast<int>(pid), leaf);
}

void readExecutable(int procFd, ProcessEntry& entry) {
    char path[32];
    entryPath(path, entry.pid, "exe");
    char target[PATH_MAX];
    const ssize_t n = readlinkat(procFd, path, target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) == sizeof target) return;
    std::string executable(target, static_cast<size_t>(n));
    // A file removed while it runs keeps its old path with this mark; the name is still its name.
    if (executable.size() > kDeletedMark.size() && executable.ends_with(kDeletedMark)) {
        executable.resize(executable.size() - kDeletedMark.size());
    }
    entry.executable = std::move(executable);
    struct stat st {};
    if (fstatat(procFd, path, &st, 0) == 0) entry.executableFile = infoOf(st);
}

}  // namespace

bool parseProcessStat(const std::string& line, ProcessEntry& entry, char& state) {
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close + 2 >= line.size()) {
        return false;
    }
    state = line[close + 2];
    size_t at = close + 1;
    for (int field = 0; field < kStartTimeAfterName; ++field) {
        at = line.find(' ', at + 1);
        if (at == std::string::npos) return false;
    }
    const char* start = line.c_str() + at + 1;
    if (*start < '0' || *start > '9') return false;
    char* end = nullptr;
    const unsigned long long startTime = std::strtoull(start, &end, 10);
    if (*end != ' ' && *end != '\n' && *end != '\0') return false;
    entry.comm = line.substr(open + 1, close - open - 1);
    entry.startTime = startTime;
    return true;
}

std::optional<std::vector<ProcessEntry>> scanProcessTable(
    const std::vector<uid_t>& uids, const std::function<bool(const ProcessEntry&)>& wantsExecutable,
    const std::string& procRoot, ProcessOwners* owners) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(procRoot.c_str()), &closedir);
    if (!dir) return std::nullopt;
    const int procFd = dirfd(dir.get());
    const auto wanted = [&](uid_t uid) { return std::find(uids.begin(), uids.end(), uid) != uids.end(); };
    std::vector<ProcessOwners::Known> known;
    const bool trustKnown = owners && owners->scansSinceFull + 1 < kFullOwnerScanEvery;
    if (owners) known.reserve(owners->known.size() + 16);
    std::vector<ProcessEntry> found;
    while (const struct dirent* dirEntry = readdir(dir.get())) {
        const std::optional<pid_t> pid = pidOf(dirEntry->d_name);
        if (!pid) continue;
        if (trustKnown) {
            const auto seen = std::lower_bound(owners->known.begin(), owners->known.end(), *pid,
                                               [](const ProcessOwners::Known& k, pid_t p) { return k.pid < p; });
            if (seen != owners->known.end() && seen->pid == *pid && seen->inode == dirEntry->d_ino && seen->uid != 0 &&
                !wanted(seen->uid)) {
                known.push_back(*seen);
                continue;
            }
        }
        // One call per process for the rest: the directory's owner is the effective uid.
        struct stat owner {};
        if (fstatat(procFd, dirEntry->d_name, &owner, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (owners) known.push_back({*pid, dirEntry->d_ino, owner.st_uid});
        if (!wanted(owner.st_uid)) continue;

        char path[32];
        entryPath(path, *pid, "stat");
        const UniqueFd stat(openat(procFd, path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        ProcessEntry entry;
        entry.pid = *pid;
        entry.uid = owner.st_uid;
        if (!stat || !readStat(stat.get(), entry)) continue;
        if (wantsExecutable(entry)) readExecutable(procFd, entry);
        found.push_back(std::move(entry));
    }
    if (owners) {
        // /proc lists pids in ascending order already; another directory may not.
        const auto byPid = [](const ProcessOwners::Known& a, const ProcessOwners::Known& b) { return a.pid < b.pid; };
        if (!std::is_sorted(known.begin(), known.end(), byPid)) std::sort(known.begin(), known.end(), byPid);
        owners->known = std::move(known);
        owners->scansSinceFull = trustKnown ? owners->scansSinceFull + 1 : 0;
    }
    return found;
}

std::optional<ProcessEntry> readProcess(pid_t pid, const std::string& procRoot) {
    if (pid <= 0) return std::nullopt;
    // The directory, once open, stays that process's even if the pid is reused; its owner is
    // the effective uid (the files inside belong to root when the process is not dumpable).
    const std::string path = procRoot + "/" + std::to_string(pid);
    const UniqueFd directory(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat owner {};
    if (!directory || fstat(directory.get(), &owner) != 0) return std::nullopt;
    const UniqueFd stat(openat(directory.get(), "stat", O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!stat) return std::nullopt;
    ProcessEntry entry;
    entry.pid = pid;
    entry.uid = owner.st_uid;
    if (!readStat(stat.get(), entry)) return std::nullopt;
    return entry;
}

}  // namespace hv
