#pragma once

// What horaveld makes of its arguments. It takes none to run; it only answers the two questions
// any installed program is asked, so that asking never starts a second daemon.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace hv {

// No arguments: nullopt, start the daemon. "--help" or "--version" alone: the answer on `out`, 0.
// Anything else: one usage line on `err`, 2. Nothing is started in either of the last two cases.
std::optional<int> answerCommandLine(const std::vector<std::string>& args, std::ostream& out,
                                     std::ostream& err);

}  // namespace hv
