#pragma once

// ConsoleWatch: whether who is at the console may have changed since it was last looked up, so
// that the records behind it (logind's seat and session files, the user database) are read again
// only then, not on every tick.

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/linux/file_stamp.h"
#include "platform/linux/unique_fd.h"

namespace hv {

class ConsoleWatch {
public:
    struct Paths {
        std::string seats = "/run/systemd/seats";
        std::string sessions = "/run/systemd/sessions";
        std::string passwd = "/etc/passwd";
    };

    // Watches the two directories (inotify: every entry written, renamed into place or removed)
    // and compares the user database file's identity and times on each call. Nothing is read yet.
    // Without paths, logind's and the system's own.
    ConsoleWatch();
    explicit ConsoleWatch(Paths paths);

    // True when the records may differ from what they were at the last call that returned true:
    // always on the first call; whenever an entry of either directory was written, renamed into
    // place or removed, or the user database file was replaced or modified; and on every call
    // while a directory cannot be watched (missing, or the watch lost), so that a caller then reads
    // afresh each time, as without a watch. A change made before the call returns is never missed.
    bool changed();

private:
    // Adds whichever watch is missing; true when both were in place already.
    bool watchDirectories();
    // Reads every pending event; true when there was any (or the queue overflowed). A watch whose
    // directory went away is marked missing.
    bool drainEvents();
    // True when the user database file is not the one, or not as it was, at the last call.
    bool passwdChanged();

    Paths paths_;
    UniqueFd inotify_;
    int seatsWatch_ = -1;
    int sessionsWatch_ = -1;
    bool first_ = true;
    std::optional<FileStamp> passwd_;
};

}  // namespace hv
