#include "platform/linux/logind.h"

#include "platform/linux/session_bus.h"

namespace hv {

namespace {

// A logout must not hang the daemon's tick on a wedged bus.
constexpr uint64_t kCallTimeoutUsec = 5'000'000;

}  // namespace

bool terminateLogindSession(const std::string& busAddress, const std::string& sessionId) {
    BusPtr bus = connectBus(busAddress, kCallTimeoutUsec);
    if (!bus) return false;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "TerminateSession", &error,
                                     nullptr, "s", sessionId.c_str());
    sd_bus_error_free(&error);
    return r >= 0;
}

}  // namespace hv
