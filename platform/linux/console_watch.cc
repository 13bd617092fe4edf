#include "platform/linux/console_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <utility>

namespace hv {

namespace {

// logind replaces its records by renaming a new file into place; whatever else writes there
// (a record written in place, a session removed) is caught too.
constexpr uint32_t kDirectoryEvents = IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM;

}  // namespace

ConsoleWatch::ConsoleWatch() : ConsoleWatch(Paths{}) {}

ConsoleWatch::ConsoleWatch(Paths paths)
    : paths_(std::move(paths)), inotify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    const std::filesystem::path passwd(paths_.passwd);
    passwdDirectory_ = passwd.parent_path().string();
    passwdName_ = passwd.filename().string();
    // A link's target can change without its directory seeing it.
    struct stat st {};
    passwdIsLink_ = lstat(paths_.passwd.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    watchDirectories();
}

bool ConsoleWatch::watchDirectories() {
    bool wereInPlace = true;
    const auto add = [&](int& watch, const std::string& path) {
        if (watch >= 0) return;
        wereInPlace = false;
        if (inotify_) watch = inotify_add_watch(inotify_.get(), path.c_str(), kDirectoryEvents | IN_ONLYDIR);
    };
    add(seatsWatch_, paths_.seats);
    add(sessionsWatch_, paths_.sessions);
    if (!passwdIsLink_) add(passwdWatch_, passwdDirectory_);
    return wereInPlace;
}

bool ConsoleWatch::drainEvents() {
    bool any = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(inotify_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // The directory was removed or its file system unmounted: the watch is gone.
            if (event->mask & IN_IGNORED) {
                if (event->wd == seatsWatch_) seatsWatch_ = -1;
                if (event->wd == sessionsWatch_) sessionsWatch_ = -1;
                if (event->wd == passwdWatch_) passwdWatch_ = -1;
            }
            // Of the user database's directory, only its own entry matters.
            const bool counts = event->wd != passwdWatch_ || (event->len > 0 && passwdName_ == event->name);
            any = any || counts || (event->mask & (IN_IGNORED | IN_Q_OVERFLOW));
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return any;
}

bool ConsoleWatch::passwdChanged() {
    if (passwdWatch_ >= 0) return false;
    const std::optional<FileStamp> now = stampOf(paths_.passwd);
    const bool differs = now != passwd_;
    passwd_ = now;
    return differs;
}

int ConsoleWatch::follow() {
    followed_ = static_cast<bool>(inotify_);
    return followed_ ? inotify_.get() : -1;
}

void ConsoleWatch::takeEvents() {
    if (followed_ && drainEvents()) taken_ = true;
}

bool ConsoleWatch::changed() {
    // Every check runs each time, so that each one's record of what it saw is current.
    const bool events = inotify_ && (followed_ ? std::exchange(taken_, false) : drainEvents());
    // A directory watched only from now on may have changed while it was not.
    const bool watched = watchDirectories();
    const bool passwd = passwdChanged();
    const bool first = std::exchange(first_, false);
    return first || events || !watched || passwd;
}

}  // namespace hv
