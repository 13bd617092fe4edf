#pragma once

// Who is at the console, from logind's records through sd-login.

#include <optional>
#include <string>

#include "platform/system.h"

namespace hv {

// seat0's active session when it is of class "user" (a greeter or lock screen means nobody) and
// its uid has a passwd entry; nullopt otherwise, also when there is no seat data at all.
// `sessionsDir` holds logind's per-session records, from which the leader pid is taken (0 when
// the record names none).
std::optional<ConsoleSession> activeConsoleSession(
    const std::string& sessionsDir = "/run/systemd/sessions");

// The LEADER= value of a logind session record; 0 when absent or malformed.
pid_t leaderFromSessionRecord(const std::string& record);

}  // namespace hv
