#pragma once

// `horavelctl status`: is the daemon running, is monitoring on, who is at the console, and what
// the remaining-time channel says.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/config.h"
#include "tools/json_text.h"

namespace hv {

struct DaemonState {
    std::optional<pid_t> pid;  // from the pid file
    bool running = false;      // that pid is alive and its command name is horaveld
    std::string note;          // why not, when not
};

// Reads config.pidFile and checks the process behind it through `procRoot` (normally "/proc").
DaemonState probeDaemon(const Config& config, const std::string& procRoot = "/proc");

// The four words of the remaining-time record and the word after it (the minute of the day the
// network comes back, -1 when not today), read from the segment attached read-only; nullopt when
// no segment exists for the key (nothing is created).
std::optional<std::array<int32_t, 5>> readChannel(key_t key);

// One sentence on the console user, e.g. "kid is at the console: 42 minutes left today (of 60, 15
// given), network until 19:00, warned": the time left as the record gives it, the day's allowance
// and grant when the store knows the account, the network's end at `minuteOfDay` plus the record's
// network minutes (or, while it is off, when it comes back), and whether the child has been warned.
struct ConsoleFacts {
    std::optional<std::string> user;
    std::optional<std::array<int32_t, 5>> record;
    std::optional<uint32_t> allowance;  // today's, before the grant; 0 = no limit
    int32_t granted = 0;
    int minuteOfDay = 0;
};
std::string describeConsole(const ConsoleFacts& facts);

// The object `status --json` prints: the daemon's state, whether monitoring is on, the console
// user with today's allowance and grant, and the raw remaining-time record (null when none).
Json statusJson(const Config& config, const std::function<std::optional<std::string>()>& consoleUser);

// Prints the daemon's state, whether monitoring is on and the console sentence, or with `asJson`
// the same facts with the raw record as one JSON object. Exit status 3 when the daemon is not
// running, else 0.
int runStatus(const Config& config, const std::function<std::optional<std::string>()>& consoleUser, bool asJson,
              std::ostream& out);

}  // namespace hv
