#include "daemon/monitor.h"

namespace hv {

std::string formatObject(const std::optional<std::string>& text) {
    return text ? *text : std::string("(null)");
}

Monitor::Monitor(System& sys, const Config& cfg) : system(sys), config(cfg) {
    system.addTimer(kTickInterval, [this] { userMonitor(); });
    timer = true;

    powerRegistered = system.registerPower([this](PowerEvent event) { sleepNotification(event); });
    if (!powerRegistered) {
        logIt("IORegisterForSystemPower() failed");
    }

    // Without a segment or a semaphore the channel stays null and nothing is ever published
    // through it; the rest of the daemon runs as usual.
    System::OpenedChannel opened = system.openChannel(config.shmKey, kChannelSize, config.semaphoreName);
    if (!opened.removed.empty()) {
        logIt(channelSquatLine(opened.removed, config));
    }
    sharedMem = std::move(opened.channel);

    logIt("initialization complete");
}

Monitor::~Monitor() = default;

CalendarDate Monitor::calendarDate() const {
    return CalendarDate(system.now());
}

}  // namespace hv
