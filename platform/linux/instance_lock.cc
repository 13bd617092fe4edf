#include "platform/linux/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>

namespace hv {

InstanceLock lockInstance(const std::string& path) {
    InstanceLock lock;
    // Non-blocking, so that a FIFO at the path cannot hold up the start.
    lock.fd = UniqueFd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (!lock.fd) {
        lock.error = path + ": " + std::strerror(errno);
        return lock;
    }
    int r;
    while ((r = flock(lock.fd.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
        lock.heldElsewhere = errno == EWOULDBLOCK;
        lock.error = path + ": " + std::strerror(errno);
        lock.fd.reset();
    }
    return lock;
}

}  // namespace hv
