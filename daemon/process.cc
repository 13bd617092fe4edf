#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "daemon/monitor.h"

namespace hv {

namespace {

// The file an application's name names on the system's own search path, as exec would find it:
// the first executable regular file, links followed. A name that is not a plain file name is not
// looked up.
std::optional<FileInfo> executableOnPath(System& system, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    for (const char* directory : kSystemPath) {
        const std::optional<FileInfo> info = system.resolvedFileInfo(std::string(directory) + "/" + name);
        if (info && S_ISREG(info->mode) && (info->mode & 0111) != 0) return info;
    }
    return std::nullopt;
}

std::string fileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ProcessTable::covers(uid_t uid, bool needExecutables) const {
    return (executables || !needExecutables) && std::find(uids.begin(), uids.end(), uid) != uids.end();
}

std::string commandName(const std::string& name) { return name.substr(0, kCommLength); }

bool isApplication(const ProcessEntry& process, const std::string& name,
                   const std::optional<FileInfo>& onPath) {
    if (process.comm == commandName(name)) return true;
    if (!process.executable.empty() && fileName(process.executable) == name) return true;
    return onPath && process.executableFile && process.executableFile->device == onPath->device &&
           process.executableFile->inode == onPath->inode;
}

int32_t uidByName(System& system, const std::string& name) {
    return system.uidByName(name);
}

int32_t Monitor::accountUid(const std::string& name) {
    // Walking the user database costs more than the scan of the process table it serves, and
    // every watched application asks for the same account in the application minute.
    if (inTick && tickAccount && tickAccount->first == name) return tickAccount->second;
    const int32_t uid = uidByName(system, name);
    if (inTick) tickAccount.emplace(name, uid);
    return uid;
}

const ProcessTable* Monitor::processTable(uid_t uid, bool withExecutables) {
    if (inTick && tickProcesses && tickProcesses->covers(uid, withExecutables)) return &*tickProcesses;

    ProcessTable table;
    table.uids = {uid};
    table.executables = withExecutables;
    if (inTick && tickProcesses) {
        for (uid_t other : tickProcesses->uids) {
            if (other != uid) table.uids.push_back(other);
        }
        table.executables = table.executables || tickProcesses->executables;
    }
    // A process whose command name is a watched application's is that application: its
    // executable need not be read. Only the others are looked at more closely.
    std::set<std::string> decided;
    for (const std::string& name : watchedApplications()) decided.insert(commandName(name));
    const bool executables = table.executables;
    std::optional<std::vector<ProcessEntry>> scanned = system.scanProcesses(
        table.uids, [&](const ProcessEntry& entry) { return executables && decided.count(entry.comm) == 0; });
    if (!scanned) {
        tickProcesses.reset();
        return nullptr;
    }
    table.entries = std::move(*scanned);
    tickProcesses = std::move(table);
    return &*tickProcesses;
}

std::vector<ProcessEntry> Monitor::applicationProcesses(const std::string& name,
                                                        const std::optional<std::string>& owner) {
    // Nobody, or a name the user database lacks, runs no process.
    if (!owner) return {};
    const int32_t uid = accountUid(*owner);
    if (uid == -1) return {};
    const ProcessTable* table = processTable(static_cast<uid_t>(uid), true);
    if (table == nullptr) return {};
    const std::optional<FileInfo> onPath = executableOnPath(system, name);
    std::vector<ProcessEntry> found;
    for (const ProcessEntry& process : table->entries) {
        if (process.uid == static_cast<uid_t>(uid) && isApplication(process, name, onPath)) {
            found.push_back(process);
        }
    }
    return found;
}

int32_t Monitor::findProcess(const std::string& name, const std::optional<std::string>& owner) {
    const std::vector<ProcessEntry> found = applicationProcesses(name, owner);
    return found.empty() ? 0 : found.front().pid;
}

void Monitor::userLogout() { endAccount(user); }

void Monitor::endAccount(const std::optional<std::string>& name) {
    // The wait before a logout has made whatever this tick saw of the process table stale.
    tickProcesses.reset();
    // The console session's leader stands for the login process; it is named only while the
    // console session is the account's.
    const std::optional<ConsoleSession> session = system.consoleSession();
    const bool atConsole = session && name && session->userName == *name;
    const pid_t pid = atConsole ? session->leader : 0;
    logIt("terminate loginwindow pid " + std::to_string(pid));
    if (!name) return;

    // The account is ended whoever is at the console now: a switch to the login screen during
    // the wait, or a second (remote) session, must not keep it going. Root's account is the
    // system itself, and an account the user database lacks has no uid to end: of those only
    // the console session ends.
    const int32_t uid = uidByName(system, *name);
    if (uid <= 0) {
        if (pid > 1 && !system.terminateSession(session->id)) system.runShell("kill " + std::to_string(pid));
        return;
    }
    const uid_t account = static_cast<uid_t>(uid);
    if (!system.terminateUser(account)) {
        if (pid > 1) system.runShell("kill " + std::to_string(pid));
        if (const ProcessTable* table = processTable(account, false)) {
            for (const ProcessEntry& process : table->entries) {
                if (process.uid == account && process.pid > 1) system.sendSignal(process.pid, SIGTERM);
            }
        }
    }
    // A logout repeated while one is pending keeps the first deadline, or repeated logouts
    // would push the kill back for ever.
    logoutKills.emplace(account, PendingLogout{*name, system.monotonicNow() + kLogoutKillDelay});
}

size_t Monitor::endProcesses(const std::vector<ProcessEntry>& processes) {
    // Signals go straight through kill(2) rather than a "kill %d" shell per process: a game of
    // many processes would otherwise hold up the tick for a fork and exec each, and every
    // moment between the scan and the signal is one in which a pid can pass to another process.
    const double due = system.monotonicNow() + kApplicationKillDelay;
    size_t told = 0;
    for (const ProcessEntry& process : processes) {
        // A process already told to end waits for its SIGKILL; it is not told again every tick.
        const bool pending = std::any_of(pendingKills.begin(), pendingKills.end(), [&](const PendingKill& k) {
            return k.pid == process.pid && k.startTime == process.startTime;
        });
        if (pending || process.pid <= 1 || !system.sendSignal(process.pid, SIGTERM)) continue;
        pendingKills.push_back(PendingKill{process.pid, process.uid, process.startTime, due});
        ++told;
    }
    return told;
}

void Monitor::killOverdue() {
    const double now = system.monotonicNow();
    for (auto kill = pendingKills.begin(); kill != pendingKills.end();) {
        if (kill->due > now) {
            ++kill;
            continue;
        }
        // The pid may name another process by now (pids are reused): only the very process that
        // was sent SIGTERM gets SIGKILL, and nothing is scanned for it.
        const std::optional<ProcessEntry> still = system.processInfo(kill->pid);
        if (still && still->uid == kill->uid && still->startTime == kill->startTime) {
            system.sendSignal(kill->pid, SIGKILL);
        }
        kill = pendingKills.erase(kill);
    }

    for (auto logout = logoutKills.begin(); logout != logoutKills.end();) {
        if (logout->second.due > now) {
            ++logout;
            continue;
        }
        const uid_t account = logout->first;
        std::vector<pid_t> left;
        const ProcessTable* table = processTable(account, false);
        if (table != nullptr) {
            for (const ProcessEntry& process : table->entries) {
                if (process.uid == account && process.pid > 1) left.push_back(process.pid);
            }
        }
        if (table == nullptr || !left.empty()) {
            // logind kills the account's slice at once, processes forked meanwhile included;
            // the direct signals reach what runs outside it (a cron job, say).
            system.killUser(account, SIGKILL);
            for (pid_t pid : left) system.sendSignal(pid, SIGKILL);
            logIt("logout of " + logout->second.name + ": " + std::to_string(left.size()) +
                  " processes left after " + std::to_string(static_cast<int>(kLogoutKillDelay)) +
                  " s, killed");
        }
        logout = logoutKills.erase(logout);
    }
}

}  // namespace hv
