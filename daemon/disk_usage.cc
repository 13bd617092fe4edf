#include "daemon/monitor.h"

namespace hv {

void Monitor::checkDiskUsage() {}

}  // namespace hv
