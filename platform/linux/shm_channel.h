#pragma once

// The remaining-time channel on System V shared memory and a POSIX named semaphore.

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/system.h"

namespace hv {

// Creates or reuses the segment `key` (at least `size` bytes, mode 0666) and the semaphore
// `semaphoreName` (mode 0666 whatever the umask, initial value 1; an existing one keeps its
// count), both attached read-write. nullptr when either fails; nothing is then left attached or
// open. The channel, when destroyed, detaches, removes the segment if no one else is attached,
// and closes the semaphore without unlinking its name.
std::unique_ptr<Channel> openShmChannel(key_t key, size_t size, const std::string& semaphoreName);

}  // namespace hv
