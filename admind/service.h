#pragma once

// The admin service on the system bus: org.horavel.Admin1 at /org/horavel/Admin1, the
// operations of horavelctl for the settings application, each one asked of polkit first
// (docs/admin-service.md is the interface).

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/config.h"
#include "tools/install_runner.h"
#include "tools/policy_admin.h"

namespace hv {

inline constexpr const char* kAdminBusName = "org.horavel.Admin1";
inline constexpr const char* kAdminObjectPath = "/org/horavel/Admin1";
inline constexpr const char* kAdminInterface = "org.horavel.Admin1";

// What the operations work on and with; main() wires the real ones.
struct AdminTools {
    Config config;
    Installer installer;    // installs settings and policies as horavelset does
    ReloadSignal reload;    // tells the daemon
    std::function<std::optional<std::string>()> consoleUser;
    std::function<std::vector<Account>()> accounts;  // the system's user database
    std::function<double()> now;                     // Unix time
};

// Serves on `bus` (attached to `event`): publishes the object, takes kAdminBusName and runs the
// event loop until `idleTimeoutUsec` has passed with no call in progress, or the bus goes away.
// Returns the exit status for main(); a name that cannot be taken (another instance owns it) is
// a failure, said on standard error.
int serveAdmin(sd_bus* bus, sd_event* event, const AdminTools& tools, uint64_t idleTimeoutUsec);

}  // namespace hv
