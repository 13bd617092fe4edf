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

// One line describing the record as the menu-bar display would show it.
std::string describeChannel(const std::array<int32_t, 5>& words);

int runStatus(const Config& config, const std::function<std::optional<std::string>()>& consoleUser,
              std::ostream& out);

}  // namespace hv
