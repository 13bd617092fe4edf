// horaveld: the parental time-control daemon. Detaches, writes its pid file and runs the Monitor
// until its loop ends.

#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include "common/table_element.h"
#include "daemon/startup.h"
#include "platform/config.h"
#include "platform/linux/linux_system.h"

int main() {
    // Blocked before anything else, so that a signal arriving during start-up waits for the
    // loop, which delivers it between callbacks. Children start with a clean mask (runShell).
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGHUP);
    sigaddset(&handled, SIGUSR1);
    sigaddset(&handled, SIGUSR2);
    sigaddset(&handled, SIGINT);
    sigprocmask(SIG_BLOCK, &handled, nullptr);

    hv::registerTableElement();

    // Detach; the working directory becomes "/" and the standard streams stay open.
    (void)daemon(0, 1);

    const hv::Config config;
    hv::LinuxSystem system(config);
    const int result = hv::runDaemon(system, config, getpid());

    syslog(LOG_NOTICE, "HVL terminated");
    return result == 0 ? 0 : 1;
}
