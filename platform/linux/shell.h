#pragma once

// Shell commands run the way system() runs them, minus what the daemon must not hand down.

#include <string>
#include <vector>

namespace hv {

// Runs `/bin/sh -c command` and waits for it. The child starts with an empty signal mask and
// every signal at its default action, whatever the caller blocks or ignores, and inherits no
// descriptor but standard input, output and error. Returns the wait status, or -1 when the shell
// could not be started or waited for.
int runShellCommand(const std::string& command);

// Runs the program at the absolute path argv[0] with these arguments (no shell: nothing in them is
// interpreted) and `input` on its standard input, and waits for it; the same clean start as
// above. `input` must fit in a pipe's buffer (64 KiB). Returns the wait status, or -1 when the
// program could not be started or waited for.
int runProgramWithInput(const std::vector<std::string>& argv, const std::string& input);

}  // namespace hv
