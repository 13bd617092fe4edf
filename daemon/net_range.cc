#include "daemon/monitor.h"

namespace hv {

void Monitor::getInterface() {}

void Monitor::interfaceUp() {}

void Monitor::interfaceDown() {}

void Monitor::checkNetRange(int32_t) {}

}  // namespace hv
