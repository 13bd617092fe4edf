#include "daemon/monitor.h"

namespace hv {

// The sleep is let go at once; its length is charged by the tick when "tracksleep" is on.
void Monitor::sleepNotification(PowerEvent event) {
    switch (event) {
        case PowerEvent::WillSleep:
            sleepStart = calendarDate();
            sleepUser = user;
            system.allowPowerChange();
            logIt("sleep");
            break;
        case PowerEvent::HasPoweredOn:
            sleepEnd = calendarDate();
            wasSleeping = true;
            logIt("wake up");
            break;
    }
}

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
