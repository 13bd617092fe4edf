#pragma once

// The process table, read from /proc.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace hv {

// Processes whose effective uid is `uid`, in the order /proc lists them, with the kernel's
// command name (/proc/PID/comm, at most 15 characters). Processes that exit during the scan are
// skipped. nullopt when `procRoot` cannot be listed.
std::optional<std::vector<ProcessEntry>> listProcessesOf(uid_t uid,
                                                         const std::string& procRoot = "/proc");

}  // namespace hv
