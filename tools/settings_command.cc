#include "tools/settings_command.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iomanip>
#include <ostream>
#include <set>
#include <sstream>
#include <variant>

#include "foundation/property_list.h"
#include "foundation/typedstream.h"
#include "tools/json_codec.h"
#include "platform/linux/files.h"

namespace hv {

namespace {

constexpr int64_t kMinutesPerDay = 1440;
// The disk timer's period is the minutes times 60 in 32 unsigned bits.
constexpr int64_t kMaxDiskMinutes = UINT32_MAX / 60;
// The placeholders every template may hold, longest first where one begins another.
constexpr const char* kPlaceholders[] = {"%sr", "%er", "%u", "%a", "%w", "%m", "%l"};

}  // namespace

const std::array<SettingKey, 19> kSettingKeys = {{
    // The daemon tests "status" against 0 but the tray and the tools read 1 as "on".
    {"status", true, 0, 1},
    {"keeplimit", true},
    // More than a day's lead would warn on every tick of every day.
    {"warntime", true, 0, kMinutesPerDay},
    {"warnmsg", false, 0, 0, "%u, you have %m minutes left today."},
    {"warnonce", true},
    {"appmsg", false, 0, 0, "%u, you have %l minutes left for %a."},
    {"rangemsg", false, 0, 0, "%u, the computer can be used from %sr to %er."},
    {"logoutmsg", false, 0, 0, "Time is up for today, %u. You are being logged out."},
    {"diskmsg", false, 0, 0, "%u, your home folder is over its disk quota."},
    {"showremain", true},
    {"hideremain", true},
    {"diskmon", true},
    {"netmon", true},
    // How network ranges are enforced: a per-account firewall rule, or switching interfaces.
    {"netmethod", false, 0, 0, "firewall"},
    {"appmon", true},
    // The daemon raises anything lower to 15, and a negative value wraps to a period of years.
    {"diskmontime", true, 15, kMaxDiskMinutes},
    {"tracksleep", true},
    {"notimeout", true},
    {"grantmsg", false, 0, 0, "%u, you have been given %g more minutes.", "%g"},
}};

namespace {

const SettingKey* findKey(const std::string& name) {
    for (const SettingKey& key : kSettingKeys) {
        if (name == key.name) return &key;
    }
    return nullptr;
}

std::string knownKeys() {
    std::string list;
    for (const SettingKey& key : kSettingKeys) list += (list.empty() ? "" : ", ") + std::string(key.name);
    return list;
}

std::string show(const Value& v) {
    ToJsonResult json = toJson(v);
    return json.error ? "(cannot be shown: " + json.error->message + ")" : json.json.dump();
}

struct LoadedSettings {
    Value dictionary;  // nil when there is no file
    std::optional<std::string> error;
};

bool startsWith(std::string_view text, size_t at, std::string_view word) {
    return text.compare(at, word.size(), word) == 0;
}

// The first "%" followed by a letter that starts no placeholder this template may hold, as
// "%x" (or "%xy" where a two-letter placeholder was meant), or nullopt. A "%" before anything
// else (a digit, a space, the end) is plain text.
std::optional<std::string> unknownPlaceholder(const SettingKey& key, std::string_view text) {
    for (size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1)) {
        if (at + 1 >= text.size() || !std::isalpha(static_cast<unsigned char>(text[at + 1]))) continue;
        bool known = key.ownPlaceholder && startsWith(text, at, key.ownPlaceholder);
        for (const char* placeholder : kPlaceholders) known = known || startsWith(text, at, placeholder);
        if (known) continue;
        size_t length = (text[at + 1] == 's' || text[at + 1] == 'e') && at + 2 < text.size() ? 3 : 2;
        return std::string(text.substr(at, length));
    }
    return std::nullopt;
}

std::string placeholderList(const SettingKey& key) {
    std::string list;
    for (const char* placeholder : kPlaceholders) list += (list.empty() ? "" : " ") + std::string(placeholder);
    if (key.ownPlaceholder) list += " " + std::string(key.ownPlaceholder);
    return list;
}

// The value of one "KEY=VALUE" for `key`, or why it cannot be.
std::variant<Value, std::string> parseValue(const SettingKey& key, const std::string& text) {
    const std::string name = key.name;
    if (name == "netmethod") {
        if (text != "firewall" && text != "interface") {
            return name + " is \"firewall\" or \"interface\", not \"" + text + "\"";
        }
        return Value(text);
    }
    if (!key.numeric) {
        if (auto unknown = unknownPlaceholder(key, text)) {
            return name + ": unknown placeholder \"" + *unknown + "\" (known: " + placeholderList(key) + ")";
        }
        return Value(text);
    }
    int64_t number = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return name + " takes a whole number, not \"" + text + "\"";
    }
    if (number < key.min || number > key.max) {
        return name + " takes a number from " + std::to_string(key.min) + " to " + std::to_string(key.max) +
               ", not " + text;
    }
    return Value::integer(static_cast<int32_t>(number), 'i');
}

bool holdsKey(const Dictionary& dict, const char* name) {
    for (const auto& [k, v] : dict) {
        if (k.string() && *k.string() == name) return true;
    }
    return false;
}

// Every template `dict` lacks, with its default text.
void fillTemplates(Dictionary& dict) {
    for (const SettingKey& key : kSettingKeys) {
        if (key.defaultText && !holdsKey(dict, key.name)) dict.emplace_back(Value(key.name), Value(key.defaultText));
    }
}

// horavelset's own test of the dictionary, said where the administrator can see it.
std::optional<std::string> unwritable(const Value& settings) {
    std::string whyNot;
    if (!writeXmlPropertyList(settings, &whyNot)) return "the settings file cannot hold this: " + whyNot;
    return std::nullopt;
}

std::optional<CommandError> install(const Value& settings, const Installer& installer) {
    auto archive = typedstreamArchive(settings);
    if (!archive) return failedRequest("horavelctl settings: the settings file holds values that cannot be passed on");
    if (auto failure = installer(*archive)) return failedRequest("horavelctl settings: " + *failure);
    return std::nullopt;
}

LoadedSettings loadSettings(const Config& config) {
    ReadResult input = readRegularFile(config.settingsFile, 1 << 20);
    if (input.missing) return {};
    if (!input.bytes) return {{}, config.settingsFile + ": " + input.error};
    DecodeResult plist = readPropertyList(*input.bytes);
    if (!plist.ok()) {
        return {{}, config.settingsFile + ": not a property list: " + plist.error->message +
                        " at byte offset " + std::to_string(plist.error->offset)};
    }
    if (!plist.value.dictionary()) return {{}, config.settingsFile + ": its root is not a dictionary"};
    return {plist.value, std::nullopt};
}

}  // namespace

SettingsEdit applySettings(const Value& current, const std::vector<std::string>& assignments) {
    Dictionary dict;
    if (current.dictionary()) dict = *current.dictionary();
    std::set<std::string> given;
    for (const std::string& assignment : assignments) {
        size_t eq = assignment.find('=');
        if (eq == std::string::npos) return {{}, "\"" + assignment + "\" is not KEY=VALUE"};
        std::string name = assignment.substr(0, eq);
        const SettingKey* key = findKey(name);
        if (!key) return {{}, "unknown setting \"" + name + "\" (known: " + knownKeys() + ")"};
        if (!given.insert(name).second) return {{}, name + " is given twice"};
        auto parsed = parseValue(*key, assignment.substr(eq + 1));
        if (auto* why = std::get_if<std::string>(&parsed)) return {{}, *why};
        Value value = std::get<Value>(std::move(parsed));
        bool replaced = false;
        for (auto& [k, v] : dict) {
            if (k.string() && *k.string() == name) {
                v = value;
                replaced = true;
            }
        }
        if (!replaced) dict.emplace_back(Value(name), value);
    }
    fillTemplates(dict);
    Value result(std::move(dict));
    if (auto why = unwritable(result)) return {{}, *why};
    return {std::move(result), std::nullopt};
}

Value defaultSettings() {
    Dictionary dict;
    for (const SettingKey& key : kSettingKeys) {
        if (!key.numeric) continue;
        int32_t value = std::string_view(key.name) == "status" ? 1 : std::string_view(key.name) == "warntime" ? 5 : 0;
        dict.emplace_back(Value(key.name), Value::integer(std::max<int64_t>(value, key.min), 'i'));
    }
    fillTemplates(dict);
    return Value(std::move(dict));
}

std::string renderSettings(const Value& dictionary) {
    std::ostringstream out;
    for (const SettingKey& key : kSettingKeys) {
        Value v = dictionary[key.name];
        out << std::left << std::setw(13) << key.name << (v.isNil() ? "(not set)" : show(v)) << "\n";
    }
    if (const Dictionary* dict = dictionary.dictionary()) {
        for (const auto& [k, v] : *dict) {
            if (k.string() && findKey(*k.string())) continue;
            out << "other key " << show(k) << ": " << show(v) << "\n";
        }
    }
    return out.str();
}

int runSettingsShow(const Config& config, std::ostream& out, std::ostream& err) {
    LoadedSettings loaded = loadSettings(config);
    if (loaded.error) {
        err << "horavelctl settings: " << *loaded.error << "\n";
        return 1;
    }
    if (loaded.dictionary.isNil()) {
        out << "No settings file at " << config.settingsFile << ": monitoring is off.\n";
    } else {
        out << "Settings in " << config.settingsFile << " (monitoring "
            << (loaded.dictionary["status"].intValue() != 0 ? "on" : "off") << ")\n";
    }
    out << renderSettings(loaded.dictionary);
    return 0;
}

std::optional<CommandError> resetSettings(const Config& config, const Installer& installer, std::ostream& out) {
    if (auto error = install(defaultSettings(), installer)) return error;
    out << "Default settings installed in " << config.settingsFile << " (monitoring on).\n";
    return std::nullopt;
}

std::optional<CommandError> changeSettings(const Config& config, const std::vector<std::string>& assignments,
                                           const Installer& installer, std::ostream& out) {
    LoadedSettings loaded = loadSettings(config);
    if (loaded.error) {
        return failedRequest("horavelctl settings: " + *loaded.error +
                             " (not changed; horavelctl settings reset writes a fresh file)");
    }
    SettingsEdit edit = applySettings(loaded.dictionary, assignments);
    if (edit.error) return invalidRequest("horavelctl settings: " + *edit.error);
    if (auto error = install(edit.dictionary, installer)) return error;
    out << "Settings installed in " << config.settingsFile << ".\n";
    return std::nullopt;
}

Outcome<Json> settingsJson(const Config& config) {
    LoadedSettings loaded = loadSettings(config);
    if (loaded.error) return {std::nullopt, failedRequest("horavelctl settings: " + *loaded.error)};
    Json object = Json::object();
    if (const Dictionary* dict = loaded.dictionary.dictionary()) {
        for (const auto& [key, value] : *dict) {
            if (!key.string()) continue;
            if (const std::string* text = value.string()) object[*key.string()] = *text;
            else if (const Real* real = value.realValue()) object[*key.string()] = real->value;
            else if (value.isNumber()) object[*key.string()] = value.longLongValue();
        }
    }
    return {std::move(object), std::nullopt};
}

namespace {

int report(const std::optional<CommandError>& error, std::ostream& err) {
    if (!error) return 0;
    err << error->line << "\n";
    return 1;
}

}  // namespace

int runSettingsReset(const Config& config, const Installer& installer, std::ostream& out, std::ostream& err) {
    return report(resetSettings(config, installer, out), err);
}

int runSettingsSet(const Config& config, const std::vector<std::string>& assignments,
                   const Installer& installer, std::ostream& out, std::ostream& err) {
    return report(changeSettings(config, assignments, installer, out), err);
}

}  // namespace hv
