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

    // Watches the two directories and the user database's directory (inotify: every entry
    // written, renamed into place or removed; of the latter, only the user database's own entry
    // counts). Where the user database is a symbolic link, its target's identity and times are
    // compared on each call instead. Nothing is read yet. Without paths, logind's and the system's own.
    ConsoleWatch();
    explicit ConsoleWatch(Paths paths);

    // True when the records may differ from what they were at the last call that returned true:
    // always on the first call; whenever an entry of either directory was written, renamed into
    // place or removed, or the user database file was replaced, written or removed; and on every
    // call while a directory cannot be watched (missing, or the watch lost), so that a caller then
    // reads afresh each time, as without a watch. Unfollowed, a change made before the call returns
    // is never missed. Followed (see follow()), a change is seen by the first call after
    // takeEvents() took its event.
    bool changed();

    // Hands the reading of events to the caller: from now on changed() reads nothing itself and
    // trusts takeEvents(), which the caller runs whenever the returned descriptor is readable. -1
    // (and the watch stays unfollowed) when there is no inotify descriptor.
    int follow();
    // Reads every pending event, for the next changed(); nothing while unfollowed (changed() then
    // reads them itself).
    void takeEvents();

private:
    // Adds whichever watch is missing; true when all were in place already.
    bool watchDirectories();
    // Reads every pending event; true when there was any that counts (or the queue overflowed). A
    // watch whose directory went away is marked missing.
    bool drainEvents();
    // True when the user database file is not the one, or not as it was, at the last call; false
    // without a look while its directory is watched.
    bool passwdChanged();

    Paths paths_;
    std::string passwdDirectory_;
    std::string passwdName_;
    bool passwdIsLink_ = false;
    UniqueFd inotify_;
    int seatsWatch_ = -1;
    int sessionsWatch_ = -1;
    int passwdWatch_ = -1;
    bool first_ = true;
    bool followed_ = false;
    bool taken_ = false;
    std::optional<FileStamp> passwd_;
};

}  // namespace hv
