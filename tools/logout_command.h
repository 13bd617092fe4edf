#pragma once

// `horavelctl logout USER`: ends every session of the account now, through the daemon's own
// forced logout. The request is an empty root-only file named after the account in
// Config::storeLogoutDirectory(), written atomically and followed by SIGHUP; the daemon removes
// each request before acting on it, so one request ends the account once, and requests for
// several accounts made at once are all carried out.

#include <iosfwd>
#include <optional>
#include <string>

#include "platform/config.h"
#include "tools/command_error.h"
#include "tools/install_runner.h"

namespace hv {

// The work of runLogout, saying on `out` what was asked. Invalid: an unknown account; Failed: a
// request that cannot be written, or no daemon running.
std::optional<CommandError> requestLogout(const Config& config, const std::string& user, const ReloadSignal& reload,
                                          std::ostream& out);

// Leaves the request and signals. Exit status 1, with one line on `err`, for an unknown account,
// a request that cannot be written, or no daemon running (the request is then taken back, so a
// later start does not end a session nobody asked to end any more).
int runLogout(const Config& config, const std::string& user, const ReloadSignal& reload, std::ostream& out,
              std::ostream& err);

}  // namespace hv
