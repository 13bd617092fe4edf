#pragma once

// Ending a login session through logind.

#include <string>

namespace hv {

// Calls org.freedesktop.login1.Manager.TerminateSession(sessionId) on the system bus at
// `busAddress`. False when the bus or logind cannot be reached within a few seconds, or logind
// refuses (unknown session, no permission).
bool terminateLogindSession(const std::string& busAddress, const std::string& sessionId);

}  // namespace hv
