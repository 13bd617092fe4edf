#pragma once

// `horavelctl settings show` and `horavelctl settings set KEY=VALUE...`: the settings file read
// and changed key by key. Changes go through horavelset, which writes the file and tells the
// daemon, so the daemon sees them exactly as it sees the preference pane's.

#include <array>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "foundation/value.h"
#include "platform/config.h"
#include "tools/install_runner.h"

namespace hv {

struct SettingKey {
    const char* name;
    bool numeric;  // false: a text (a message template, or "netmethod")
};

// The keys the daemon reads, in the order it reads them.
extern const std::array<SettingKey, 18> kSettingKeys;

struct SettingsEdit {
    Value dictionary;
    std::optional<std::string> error;
};

// `current` (a dictionary, or nil when there is no file yet) with each "KEY=VALUE" applied:
// numeric keys take a decimal 32-bit integer, templates any text. Keys keep their place; new
// ones are added at the end. Unknown keys, malformed numbers and text the settings file cannot
// hold (characters XML 1.0 cannot carry) are errors.
SettingsEdit applySettings(const Value& current, const std::vector<std::string>& assignments);

// Every known key with its value ("not set" when absent), then any other keys the file holds.
std::string renderSettings(const Value& dictionary);

int runSettingsShow(const Config& config, std::ostream& out, std::ostream& err);
int runSettingsSet(const Config& config, const std::vector<std::string>& assignments,
                   const Installer& installer, std::ostream& out, std::ostream& err);

}  // namespace hv
