#include "platform/linux/processes.h"

#include <dirent.h>
#include <fcntl.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/linux/unique_fd.h"

namespace hv {

namespace {

// Status and comm files are small; anything longer is not what the kernel writes.
constexpr size_t kMaxProcFile = 16 * 1024;

std::optional<std::string> readSmall(int dirFd, const char* name) {
    UniqueFd fd(openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxProcFile) return std::nullopt;
    }
    return text;
}

// The effective uid: the second field of the "Uid:" line (real, effective, saved, filesystem).
std::optional<uid_t> effectiveUid(const std::string& status) {
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Uid:", 0) != 0) continue;
        std::istringstream fields(line.substr(4));
        unsigned long real = 0;
        unsigned long effective = 0;
        if (fields >> real >> effective) return static_cast<uid_t>(effective);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<pid_t> pidOf(const char* name) {
    if (*name < '1' || *name > '9') return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(name, &end, 10);
    if (*end != '\0' || value <= 0) return std::nullopt;
    return static_cast<pid_t>(value);
}

}  // namespace

std::optional<std::vector<ProcessEntry>> listProcessesOf(uid_t uid, const std::string& procRoot) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(procRoot.c_str()), &closedir);
    if (!dir) return std::nullopt;
    std::vector<ProcessEntry> found;
    while (const struct dirent* entry = readdir(dir.get())) {
        const std::optional<pid_t> pid = pidOf(entry->d_name);
        if (!pid) continue;
        // Opened once as a directory, so status and comm come from the same process even if
        // the pid is reused meanwhile; a process that is gone fails here and is skipped.
        UniqueFd procDir(openat(dirfd(dir.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!procDir) continue;
        const std::optional<std::string> status = readSmall(procDir.get(), "status");
        if (!status) continue;
        const std::optional<uid_t> euid = effectiveUid(*status);
        if (!euid || *euid != uid) continue;
        std::optional<std::string> comm = readSmall(procDir.get(), "comm");
        if (!comm) continue;
        if (!comm->empty() && comm->back() == '\n') comm->pop_back();
        found.push_back(ProcessEntry{*pid, std::move(*comm)});
    }
    return found;
}

}  // namespace hv
