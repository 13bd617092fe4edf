#pragma once

// `horavelctl settings show` and `horavelctl settings set KEY=VALUE...`: the settings file read
// and changed key by key. Changes go through horavelset, which writes the file and tells the
// daemon, so the daemon sees them exactly as it sees the preference pane's.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "foundation/value.h"
#include "platform/config.h"
#include "tools/command_error.h"
#include "tools/json_text.h"
#include "tools/install_runner.h"

namespace hv {

struct SettingKey {
    const char* name;
    bool numeric;  // false: a text (a message template, or "netmethod")
    // Numbers: the values the daemon reads as meant (anything else it misreads or wraps).
    int64_t min = 0;
    int64_t max = INT32_MAX;
    // Texts: what a fresh settings file holds; templates: the placeholder only this one fills.
    const char* defaultText = nullptr;
    const char* ownPlaceholder = nullptr;
};

// The keys the daemon reads, in the order it reads them.
extern const std::array<SettingKey, 19> kSettingKeys;

struct SettingsEdit {
    Value dictionary;
    std::optional<std::string> error;
};

// `current` (a dictionary, or nil when there is no file yet) with each "KEY=VALUE" applied:
// numeric keys take a decimal integer in the key's range, templates text whose placeholders
// ("%u", "%a", "%w", "%m", "%l", "%sr", "%er", and "%g" in "grantmsg") the daemon fills. Keys
// keep their place; new ones are added at the end, then every template the file lacks with its
// default text, so no notice is ever empty. Unknown keys, a key given twice, malformed or
// out-of-range numbers, unknown placeholders and text the settings file cannot hold
// (characters XML 1.0 cannot carry) are errors that name the key.
SettingsEdit applySettings(const Value& current, const std::vector<std::string>& assignments);

// The settings a fresh install has: monitoring on, a 5-minute warning, a 15-minute disk check,
// every other switch off, every template its default text.
Value defaultSettings();

// Every known key with its value ("not set" when absent), then any other keys the file holds.
std::string renderSettings(const Value& dictionary);

// The work of `settings reset` and `settings set`, saying on `out` what was done. Invalid: an
// assignment applySettings refuses (the whole change is then refused); Failed: a settings file
// that cannot be read, or the installer failed.
std::optional<CommandError> resetSettings(const Config& config, const Installer& installer, std::ostream& out);
std::optional<CommandError> changeSettings(const Config& config, const std::vector<std::string>& assignments,
                                           const Installer& installer, std::ostream& out);

// Every key the settings file holds, numbers (booleans as 0 or 1) as JSON numbers and texts as
// strings; other kinds are left out. An empty object when there is no file; Failed when it
// cannot be read.
Outcome<Json> settingsJson(const Config& config);

int runSettingsShow(const Config& config, std::ostream& out, std::ostream& err);
// Replaces the settings file, whatever it holds (a corrupt file included), with defaultSettings().
int runSettingsReset(const Config& config, const Installer& installer, std::ostream& out, std::ostream& err);
int runSettingsSet(const Config& config, const std::vector<std::string>& assignments,
                   const Installer& installer, std::ostream& out, std::ostream& err);

}  // namespace hv
