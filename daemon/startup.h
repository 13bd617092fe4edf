#pragma once

// The daemon's life below main(): pid file, the Monitor, signal handling, the first loads and the
// run loop. main() only detaches, builds the real System and calls runDaemon.

#include <sys/types.h>

#include "common/history.h"
#include "daemon/monitor.h"
#include "platform/config.h"
#include "platform/system.h"

namespace hv {

// SIGHUP reloads the console user's policy (the next tick is a first tick), SIGUSR1 and SIGUSR2
// switch monitoring through the settings, SIGINT is caught and does nothing, SIGTERM gives the
// network back (interfaceUp) and ends the loop. The actions run on the loop between callbacks,
// never inside a tick.
void installSignalHandlers(System& system, Monitor& monitor);

// Writes `pid` as "%d" to the pid file (in place, no newline), clears the firewall table (what a
// killed run left), creates the Monitor, installs the signal handlers, loads the settings and then
// the policy, and runs the loop. When the loop returns, clears the firewall table, removes the pid
// file and returns the loop's result.
// `history` receives the usage history (none: no history is kept).
int runDaemon(System& system, const Config& config, pid_t pid, HistoryWriter* history);

}  // namespace hv
