#include "tools/settings_command.h"

#include <charconv>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "foundation/property_list.h"
#include "foundation/typedstream.h"
#include "tools/json_codec.h"
#include "platform/linux/files.h"

namespace hv {

const std::array<SettingKey, 18> kSettingKeys = {{
    {"status", true},     {"keeplimit", true},  {"warntime", true},    {"warnmsg", false},
    {"warnonce", true},   {"appmsg", false},    {"rangemsg", false},   {"logoutmsg", false},
    {"diskmsg", false},   {"showremain", true}, {"hideremain", true},  {"diskmon", true},
    {"netmon", true},     {"netmethod", false}, {"appmon", true},      {"diskmontime", true},
    {"tracksleep", true}, {"notimeout", true},
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
    for (const std::string& assignment : assignments) {
        size_t eq = assignment.find('=');
        if (eq == std::string::npos) return {{}, "\"" + assignment + "\" is not KEY=VALUE"};
        std::string name = assignment.substr(0, eq);
        std::string text = assignment.substr(eq + 1);
        const SettingKey* key = findKey(name);
        if (!key) return {{}, "unknown setting \"" + name + "\" (known: " + knownKeys() + ")"};
        Value value;
        if (key->numeric) {
            int32_t number = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
                return {{}, name + " takes a whole number, not \"" + text + "\""};
            }
            value = Value::integer(number, 'i');
        } else {
            value = Value(text);
        }
        bool replaced = false;
        for (auto& [k, v] : dict) {
            if (k.string() && *k.string() == name) {
                v = value;
                replaced = true;
            }
        }
        if (!replaced) dict.emplace_back(Value(name), value);
    }
    // horavelset would refuse to write it; say why here, where the administrator can see it.
    Value result(std::move(dict));
    std::string whyNot;
    if (!writeXmlPropertyList(result, &whyNot)) return {{}, "the settings file cannot hold this: " + whyNot};
    return {std::move(result), std::nullopt};
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

int runSettingsSet(const Config& config, const std::vector<std::string>& assignments,
                   const Installer& installer, std::ostream& out, std::ostream& err) {
    LoadedSettings loaded = loadSettings(config);
    if (loaded.error) {
        err << "horavelctl settings: " << *loaded.error << " (not changed)\n";
        return 1;
    }
    SettingsEdit edit = applySettings(loaded.dictionary, assignments);
    if (edit.error) {
        err << "horavelctl settings: " << *edit.error << "\n";
        return 1;
    }
    auto archive = typedstreamArchive(edit.dictionary);
    if (!archive) {
        err << "horavelctl settings: the settings file holds values that cannot be passed on\n";
        return 1;
    }
    if (auto failure = installer(*archive)) {
        err << "horavelctl settings: " << *failure << "\n";
        return 1;
    }
    out << "Settings installed in " << config.settingsFile << ".\n";
    return 0;
}

}  // namespace hv
