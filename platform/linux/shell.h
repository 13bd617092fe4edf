#pragma once

// Shell commands run the way system() runs them, minus what the daemon must not hand down.

#include <string>

namespace hv {

// Runs `/bin/sh -c command` and waits for it. The child starts with an empty signal mask and
// every signal at its default action, whatever the caller blocks or ignores, and inherits no
// descriptor but standard input, output and error. Returns the wait status, or -1 when the shell
// could not be started or waited for.
int runShellCommand(const std::string& command);

}  // namespace hv
