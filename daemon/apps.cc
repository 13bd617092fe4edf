#include "daemon/monitor.h"

namespace hv {

void Monitor::checkApps() {}

}  // namespace hv
