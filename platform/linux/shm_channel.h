#pragma once

// The remaining-time channel on System V shared memory and a POSIX named semaphore.

#include <sys/types.h>

#include <string>

#include "platform/system.h"

namespace hv {

// Creates the segment `key` (at least `size` bytes, mode 0666) and the semaphore `semaphoreName`
// (mode 0666 whatever the umask, initial value 1), both attached read-write, or reuses them when
// root created them (an existing semaphore keeps its count). Whatever else stands there is removed
// first and said in `removed`: a segment that root did not create, and at the semaphore's name
// anything but a root-owned regular file with one link and a semaphore's size (a link is removed,
// never followed). A segment is removed as the account that created it, so that removing needs no
// right over other accounts' segments. `channel` is nullptr when either cannot be had; nothing is then left
// attached or open. The channel, when destroyed, detaches, removes the segment if no one else is
// attached, and closes the semaphore without unlinking its name.
System::OpenedChannel openShmChannel(key_t key, size_t size, const std::string& semaphoreName);

}  // namespace hv
