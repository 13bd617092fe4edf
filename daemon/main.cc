// horaveld: the parental time-control daemon. Answers --help and --version, takes the one-daemon
// lock, detaches, writes its pid file and runs the Monitor until its loop ends.

#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/history_journal.h"
#include "common/table_element.h"
#include "daemon/command_line.h"
#include "daemon/startup.h"
#include "platform/config.h"
#include "platform/linux/instance_lock.h"
#include "platform/linux/linux_system.h"

int main(int argc, char** argv) {
    std::string out;
    std::string err;
    if (const std::optional<int> answered =
            hv::answerCommandLine(std::vector<std::string>(argv + 1, argv + argc), out, err)) {
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return *answered;
    }

    // Blocked before anything else, so that a signal arriving during start-up waits for the
    // loop, which delivers it between callbacks. Children start with a clean mask (runShell).
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGHUP);
    sigaddset(&handled, SIGUSR1);
    sigaddset(&handled, SIGUSR2);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    sigprocmask(SIG_BLOCK, &handled, nullptr);

    hv::registerTableElement();
    const hv::Config config;

    // Taken before detaching, so that a second start fails where whoever started it can see it,
    // before it touches the pid file. The detached child inherits the descriptor, and with it the
    // lock, for the rest of its life.
    const hv::InstanceLock lock = hv::lockInstance(config.lockFile);
    if (!lock.fd) {
        const std::string why = lock.heldElsewhere ? "already running (" + config.lockFile + " is locked)"
                                                   : "cannot take the lock " + lock.error;
        std::fprintf(stderr, "horaveld: %s\n", why.c_str());
        return 1;
    }

    // Detach; the working directory becomes "/" and the standard streams stay open.
    (void)daemon(0, 1);

    hv::LinuxSystem system(config);
    // Appended to the journal, which `horavelctl history` folds into the database; a tick never
    // waits for a fold that holds it: the write fails, is kept, and is tried again a minute later.
    hv::HistoryJournal history(config.storeHistoryJournalPath());
    const int result = hv::runDaemon(system, config, getpid(), &history);

    syslog(LOG_NOTICE, "HVL terminated");
    return result == 0 ? 0 : 1;
}
