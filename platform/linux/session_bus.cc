#include "platform/linux/session_bus.h"

namespace hv {

BusPtr connectBus(const std::string& address, uint64_t timeoutUsec) {
    sd_bus* raw = nullptr;
    if (sd_bus_new(&raw) < 0) return nullptr;
    BusPtr bus(raw);
    if (sd_bus_set_address(bus.get(), address.c_str()) < 0 || sd_bus_set_bus_client(bus.get(), 1) < 0 ||
        sd_bus_set_method_call_timeout(bus.get(), timeoutUsec) < 0 || sd_bus_start(bus.get()) < 0) {
        return nullptr;
    }
    return bus;
}

}  // namespace hv
