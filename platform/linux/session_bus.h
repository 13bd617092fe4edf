#pragma once

// Short-lived D-Bus connections made with sd-bus.

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

namespace hv {

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

// A client connection to the bus at `address` ("unix:path=..."), authenticated as the calling
// process, with method calls bounded by `timeoutUsec`. nullptr when it cannot be made.
BusPtr connectBus(const std::string& address, uint64_t timeoutUsec);

}  // namespace hv
