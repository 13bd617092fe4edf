#pragma once

// What horaveld makes of its arguments. It takes none to run; it only answers the two questions
// any installed program is asked, so that asking never starts a second daemon.

#include <optional>
#include <string>
#include <vector>

namespace hv {

// No arguments: nullopt, start the daemon. "--help" or "--version" alone: the answer appended to
// `out`, 0. Anything else: one usage line appended to `err`, 2. Nothing is started in either of the
// last two cases. Strings rather than streams: the daemon links no iostreams, whose start-up alone
// would keep some 400 kB of the C++ library resident for its whole life.
std::optional<int> answerCommandLine(const std::vector<std::string>& args, std::string& out,
                                     std::string& err);

}  // namespace hv
