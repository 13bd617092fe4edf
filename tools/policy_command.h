#pragma once

// `horavelctl policy show USER [--json]` and `horavelctl policy set USER FILE`.

#include <iosfwd>
#include <string>

#include "platform/config.h"
#include "tools/install_runner.h"

namespace hv {

// Prints the account's policy as a table, or with `asJson` in the form `policy set` reads.
int runPolicyShow(const Config& config, const std::string& user, bool asJson, std::ostream& out,
                  std::ostream& err);

// Reads the JSON policy in `file` ("-" for standard input), builds the record list for the
// account's policy file (keeping today's usage from the file it replaces) and installs it.
int runPolicySet(const Config& config, const std::string& user, const std::string& file,
                 const Installer& installer, std::ostream& out, std::ostream& err);

}  // namespace hv
