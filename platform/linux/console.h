#pragma once

// Who is at the console, from logind's records through sd-login.

#include <optional>
#include <string>

#include "platform/linux/console_watch.h"
#include "platform/system.h"

namespace hv {

// seat0's active session when it is of class "user" (a greeter or lock screen means nobody) and
// its uid has a passwd entry; nullopt otherwise, also when there is no seat data at all.
// `sessionsDir` holds logind's per-session records, from which the leader pid is taken (0 when
// the record names none).
std::optional<ConsoleSession> activeConsoleSession(
    const std::string& sessionsDir = "/run/systemd/sessions");

// The console session as activeConsoleSession gives it, read again only when ConsoleWatch says the
// records behind it may have changed, or when the last answer was nobody: an unchanged session at
// the console costs one read of the watch and one stat of the user database, not the seat file,
// the session file (twice) and the user database.
class ConsoleLookup {
public:
    std::optional<ConsoleSession> current();
    // The watch behind it, for a run loop to follow.
    ConsoleWatch& watch() { return watch_; }

private:
    ConsoleWatch watch_;
    std::optional<ConsoleSession> session_;
};

// The LEADER= value of a logind session record; 0 when absent or malformed.
pid_t leaderFromSessionRecord(const std::string& record);

}  // namespace hv
