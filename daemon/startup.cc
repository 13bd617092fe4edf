#include "daemon/startup.h"

#include <csignal>
#include <string>

namespace hv {

void installSignalHandlers(System& system, Monitor& monitor) {
    system.onSignal(SIGHUP, [&monitor] {
        monitor.takeLogoutRequests();
        monitor.loadUserData();
    });
    system.onSignal(SIGUSR1, [&monitor] { monitor.watchEnable(); });
    system.onSignal(SIGUSR2, [&monitor] { monitor.watchDisable(); });
    // Caught so that an interrupt does not end the daemon.
    system.onSignal(SIGINT, [] {});
    // A stop gives the network back before the loop ends.
    system.onSignal(SIGTERM, [&system, &monitor] {
        monitor.interfaceUp();
        system.stop(0);
    });
}

int runDaemon(System& system, const Config& config, pid_t pid, HistoryWriter* history) {
    system.writeFileInPlace(config.pidFile, std::to_string(pid));
    // A run that ended without its stop (killed, crashed) may have left accounts blocked.
    system.clearFirewall();

    // The Monitor lives as long as the loop runs; it is released with the stack frame after.
    Monitor monitor(system, config);
    monitor.history = history;
    installSignalHandlers(system, monitor);
    monitor.loadUserStatus();
    monitor.loadUserData();

    const int result = system.run();
    system.clearFirewall();
    system.removeFile(config.pidFile);
    return result;
}

}  // namespace hv
