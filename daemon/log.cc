#include <cmath>
#include <ctime>

#include "daemon/monitor.h"

namespace hv {

void Monitor::logIt(const std::string& text) {
    // ctime_r gives exactly 24 characters and a newline for every year of four digits; a clock
    // outside that range gets no stamp rather than a malformed one.
    const time_t now = static_cast<time_t>(std::floor(system.now()));
    char stamp[64] = {};
    if (ctime_r(&now, stamp) == nullptr || stamp[24] != '\n') {
        return;
    }
    std::string line(stamp, 24);
    line += ' ';
    line += text;
    line += '\n';
    system.appendToFile(config.logFile, line);
}

}  // namespace hv
