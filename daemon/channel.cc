#include "daemon/monitor.h"

namespace hv {

std::string channelSquatLine(const ChannelSquat& removed, const Config& config) {
    std::string line = "channel taken back: removed";
    if (removed.segmentCreator) {
        line += " segment " + std::to_string(config.shmKey) + " created by uid " +
                std::to_string(*removed.segmentCreator);
    }
    if (removed.segmentCreator && removed.semaphoreOwner) line += " and";
    if (removed.semaphoreOwner) {
        line += " semaphore " + config.semaphoreName + " owned by uid " +
                std::to_string(*removed.semaphoreOwner);
    }
    return line;
}

void Monitor::showRemain() {
    const std::optional<std::string> console = userCurrent();
    if (console && console->empty()) {
        return;
    }
    if (sharedMem == nullptr) {
        return;
    }

    const bool shown = showremain != 0;
    // 0 minutes and 0 seconds are also what a day without an allowance publishes; the warn word
    // tells the used-up limit apart.
    const bool noTimeLeft = shown && timeLimited && rmin == 0 && rminsec == 0;
    int32_t words[4] = {
        shown ? static_cast<int32_t>(rmin) : -1,
        shown ? static_cast<int32_t>(nrmin) : -1,
        (warning ? kRecordWarned : 0) | (noTimeLeft ? kRecordNoTimeLeft : 0),
        shown ? static_cast<int32_t>(rminsec) : -1,
    };
    // Hidden only on a day without a limit: the last minute of a limit, and its end, are shown.
    if (hideremain == 1 && !timeLimited) {
        words[0] = -1;
    }

    // The reader must never be able to hold up the tick: when the semaphore is taken, this
    // tick's values are dropped and the next tick tries again.
    if (!sharedMem->tryLock()) {
        return;
    }
    sharedMem->write(words);
    sharedMem->writeNetworkBack(shown && static_cast<int32_t>(nrmin) == -2 ? netback : -1);
    sharedMem->unlock();
}

}  // namespace hv
