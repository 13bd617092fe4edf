#pragma once

// horavelset's work, as a library so that tests can drive it against temporary paths: read one
// typedstream archive, install it as the settings file or as an account's policy file, and
// signal the daemon through its pid file.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/config.h"

namespace hv {

inline constexpr size_t kMaxInstallInput = 1 << 20;

// Reads `fd` to its end. nullopt when reading fails or the input exceeds maxBytes.
std::optional<std::string> readAllBounded(int fd, size_t maxBytes = kMaxInstallInput);

// The daemon's pid from the text of its pid file: the leading decimal integer after optional
// blanks. nullopt when there is none, it overflows, or it is 1 or less (never a daemon we may
// signal: 0 and negative values address process groups, 1 is init).
std::optional<pid_t> parsePid(std::string_view text);

// Sends the daemon the signal for `event`: 0 SIGUSR2, 1 SIGUSR1, 2 SIGHUP, any other value
// nothing. The pid comes from config.pidFile, read without following a link; a missing,
// unreadable or unusable pid file sends nothing, and so does a pid whose process is not named
// config.daemonName (a stale file whose pid was reused). Returns the signal sent, or 0.
int sendEvent(int event, const Config& config);

enum class InstallOutcome {
    Settings,     // settings dictionary written to config.settingsFile
    Policy,       // policy list written to its first record's path (and, for an account's own
                  // policy file, to the account's store entry first: that write must succeed)
    EmptyList,    // an empty list: nothing to do
    BadInput,     // not something horavelset installs: nothing written, nothing signalled
    WriteFailed,  // the target could not be written: nothing signalled
};

struct InstallResult {
    InstallOutcome outcome = InstallOutcome::BadInput;
    std::string target;  // the file written (or that failed to be written)
    int signal = 0;      // the signal sent to the daemon, 0 for none

    // horavelset's exit status: 0 when the request was carried out (or was an empty list).
    int exitStatus() const;
};

// One run of horavelset over its whole standard input.
InstallResult install(std::string_view input, const Config& config);

}  // namespace hv
