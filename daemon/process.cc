#include "daemon/monitor.h"

namespace hv {

int32_t uidByName(System& system, const std::string& name) {
    return system.uidByName(name);
}

int32_t Monitor::findProcess(const std::string& name, const std::optional<std::string>& owner) {
    // Nobody, or a name the user database lacks, runs no process.
    if (!owner) {
        return 0;
    }
    const int32_t uid = uidByName(system, *owner);
    if (uid == -1) {
        return 0;
    }
    const std::optional<std::vector<ProcessEntry>> processes =
        system.processesOf(static_cast<uid_t>(uid));
    if (!processes) {
        return 0;
    }
    for (const ProcessEntry& process : *processes) {
        if (process.comm == name) {
            return process.pid;
        }
    }
    return 0;
}

void Monitor::userLogout() {
    // The console session's leader stands for the login process. The session is ended only
    // while it still belongs to the user whose time is up: after a switch of users the next
    // tick loads the new user's policy instead.
    const std::optional<ConsoleSession> session = system.consoleSession();
    const bool ours = session && user && session->userName == *user;
    const pid_t pid = ours ? session->leader : 0;

    logIt("terminate loginwindow pid " + std::to_string(pid));
    if (pid > 1 && !system.terminateSession(session->id)) {
        system.runShell("kill " + std::to_string(pid));
    }
}

}  // namespace hv
