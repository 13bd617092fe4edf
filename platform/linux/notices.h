#pragma once

// Desktop notices through the freedesktop notification service on the user's session bus.

#include <sys/types.h>

#include <string>

#include "platform/system.h"

namespace hv {

// The body of a notice, for a process that already runs as the console user: connects to the
// session bus at `busAddress`, calls org.freedesktop.Notifications.Notify (caution: urgency 1,
// stop: urgency 2; the timeout in ms, 0 = stays), and when the timeout is positive waits that
// long and closes the notice itself, since some desktop shells ignore the expiry. False when the
// bus or the notification server cannot be reached.
bool deliverNotice(const std::string& busAddress, const Notice& notice);

// Shows `notice` to the user `uid` on "<runtimeRoot>/<uid>/bus" from a short-lived grandchild
// that drops to the user's uid, gid and groups first; the caller waits only for the intermediate
// child, which exits at once, so no zombie is left and the daemon never waits for the desktop.
// Failures are silent.
void showNoticeAs(uid_t uid, const std::string& runtimeRoot, const Notice& notice);

}  // namespace hv
