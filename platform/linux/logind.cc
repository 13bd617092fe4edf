#include "platform/linux/logind.h"

#include <cstdint>

#include "platform/linux/session_bus.h"

namespace hv {

namespace {

// A logout must not hang the daemon's tick on a wedged bus.
constexpr uint64_t kCallTimeoutUsec = 5'000'000;

// Calls one method of logind's manager; true when it answered without an error.
template <typename... Args>
bool callManager(const std::string& busAddress, const char* method, const char* signature, Args... args) {
    BusPtr bus = connectBus(busAddress, kCallTimeoutUsec);
    if (!bus) return false;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", method, &error, nullptr, signature,
                                     args...);
    sd_bus_error_free(&error);
    return r >= 0;
}

}  // namespace

bool terminateLogindSession(const std::string& busAddress, const std::string& sessionId) {
    return callManager(busAddress, "TerminateSession", "s", sessionId.c_str());
}

bool terminateLogindUser(const std::string& busAddress, uid_t uid) {
    return callManager(busAddress, "TerminateUser", "u", static_cast<uint32_t>(uid));
}

bool killLogindUser(const std::string& busAddress, uid_t uid, int signo) {
    return callManager(busAddress, "KillUser", "ui", static_cast<uint32_t>(uid), static_cast<int32_t>(signo));
}

}  // namespace hv
