#pragma once

// Ending sessions and accounts through logind.

#include <sys/types.h>

#include <string>

namespace hv {

// Calls org.freedesktop.login1.Manager on the system bus at `busAddress`: TerminateSession(id),
// TerminateUser(uid) (every session of the account and its user manager) and KillUser(uid, signo)
// (every process of the account's slice). Each is false when the bus or logind cannot be reached
// within a few seconds, or logind refuses (unknown session or account, no permission: the caller
// needs CAP_KILL).
bool terminateLogindSession(const std::string& busAddress, const std::string& sessionId);
bool terminateLogindUser(const std::string& busAddress, uid_t uid);
bool killLogindUser(const std::string& busAddress, uid_t uid, int signo);

}  // namespace hv
