#pragma once

// `horavelctl policy show USER [--json]` and `horavelctl policy set USER FILE`.

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "platform/config.h"
#include "tools/command_error.h"
#include "tools/install_runner.h"
#include "tools/json_text.h"

namespace hv {

// Prints the account's policy as a table, or with `asJson` in the form `policy set` reads.
int runPolicyShow(const Config& config, const std::string& user, bool asJson, std::ostream& out,
                  std::ostream& err);

// Reads the JSON policy in `file` ("-" for standard input), builds the record list for the
// account's policy file (keeping today's usage from the file it replaces) and installs it.
int runPolicySet(const Config& config, const std::string& user, const std::string& file,
                 const Installer& installer, std::ostream& out, std::ostream& err);

// How an error names JSON that came on standard input.
inline constexpr const char* kStandardInput = "standard input";

// The work of `policy set` on JSON already read: checks the account and the JSON (errors name
// the input as `inputName`), keeps today's usage, installs through `installer` and says on `out`
// what was done. Invalid: an unknown account or a policy the JSON does not give; Failed: no home
// folder, or the installer failed.
std::optional<CommandError> installPolicy(const Config& config, const std::string& user, std::string_view text,
                                          const std::string& inputName, const Installer& installer,
                                          std::ostream& out);

// A managed account's policy in the form `policy set` reads, from its store entry (or that
// entry's previous copy). Invalid: an unknown account, or one without a store entry; Failed: an
// entry that cannot be read.
Outcome<Json> storedPolicyJson(const Config& config, const std::string& user);

}  // namespace hv
