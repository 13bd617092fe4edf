#pragma once

// The lock that lets only one daemon run at a time.

#include <string>

#include "platform/linux/unique_fd.h"

namespace hv {

struct InstanceLock {
    UniqueFd fd;               // holds the lock while open (a forked child's copy holds it too)
    bool heldElsewhere = false;  // another process has it: distinct from a file that cannot be opened
    std::string error;         // why it could not be taken
};

// Takes an exclusive flock on `path` without waiting, creating the file (mode 0600) when missing and
// never opening it through a link. The descriptor is close-on-exec, so no command the daemon runs
// keeps the lock after the daemon has gone.
InstanceLock lockInstance(const std::string& path);

}  // namespace hv
