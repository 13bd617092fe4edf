#include "daemon/monitor.h"

namespace hv {

void Monitor::sleepNotification(PowerEvent) {}

void Monitor::watchEnable() {
    logIt("enabled");
    isRunning = true;
    loadUserStatus();
}

void Monitor::watchDisable() {
    logIt("disabled");
    isRunning = false;
    loadUserStatus();
}

}  // namespace hv
