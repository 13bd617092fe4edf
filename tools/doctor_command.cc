#include "tools/doctor_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <sstream>

#include "common/policy_store.h"
#include "common/table_element.h"
#include "foundation/property_list.h"
#include "platform/linux/files.h"
#include "platform/linux/shell.h"

namespace hv {
namespace {

constexpr size_t kMaxFile = 1 << 20;

// What the managed accounts' policies ask of the system.
struct StoreFacts {
    std::vector<Check> entries;
    bool networkRanges = false;
    bool applications = false;
};

StoreFacts storeFacts(const Config& config) {
    StoreFacts facts;
    std::optional<std::vector<std::string>> names = directoryNames(config.storeRoot + "/policies");
    std::vector<std::string> accounts;
    for (const std::string& name : names.value_or(std::vector<std::string>{})) {
        const std::string suffix = ".horavel";
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            accounts.push_back(name.substr(0, name.size() - suffix.size()));
        }
    }
    std::sort(accounts.begin(), accounts.end());
    for (const std::string& account : accounts) {
        StoredPolicy stored = readStoredPolicy(
            config, account, [](const std::string& path) { return readRegularFile(path, kMaxStoreFile); });
        if (!stored.list) {
            facts.entries.push_back({Verdict::Fail, "store entry of " + account + " cannot be used (" + stored.problem +
                                                        "), nor its previous copy: no limits apply"});
            continue;
        }
        facts.entries.push_back(stored.fromPrevious
                                    ? Check{Verdict::Warn, "store entry of " + account + " cannot be used (" +
                                                               stored.problem + "); its previous copy serves"}
                                    : Check{Verdict::Ok, "store entry of " + account + " readable"});
        for (size_t i = 0; i < stored.list->size(); ++i) {
            const std::shared_ptr<TableElement> record = recordAt(*stored.list, i);
            if (!record || !record->mmode().string()) continue;
            if (*record->mmode().string() == "Limit" && record->netranges() > 0) facts.networkRanges = true;
            if (*record->mmode().string() == "App") facts.applications = true;
        }
    }
    if (accounts.empty()) facts.entries.push_back({Verdict::Warn, "no managed account (horavelctl policy set)"});
    return facts;
}

Check daemonCheck(const Config& config, const DoctorPaths& paths) {
    std::vector<std::string> running;
    for (const std::string& name : directoryNames(paths.procRoot).value_or(std::vector<std::string>{})) {
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
            continue;
        }
        ReadResult comm = readRegularFile(paths.procRoot + "/" + name + "/comm", 64);
        if (comm.bytes && *comm.bytes == config.daemonName + "\n") running.push_back(name);
    }
    ReadResult pidFile = readRegularFile(config.pidFile, 64);
    std::string pid = pidFile.bytes ? *pidFile.bytes : "";
    while (!pid.empty() && std::isspace(static_cast<unsigned char>(pid.back()))) pid.pop_back();
    if (running.empty()) return {Verdict::Fail, "daemon: no " + config.daemonName + " is running (systemctl start horaveld)"};
    if (running.size() > 1) return {Verdict::Fail, "daemon: " + std::to_string(running.size()) + " " + config.daemonName + " processes run"};
    if (pid != running[0]) {
        return {Verdict::Fail, "daemon: " + config.daemonName + " runs as pid " + running[0] + " but " + config.pidFile +
                                   (pidFile.bytes ? " says \"" + pid + "\"" : " is missing") + "; the tools cannot signal it"};
    }
    return {Verdict::Ok, "daemon: one " + config.daemonName + " running, pid " + pid + " as " + config.pidFile + " says"};
}

Check settingsCheck(const Config& config, uint32_t& netmon, uint32_t& appmon, std::string& netmethod) {
    ReadResult file = readRegularFile(config.settingsFile, kMaxFile);
    if (file.missing) return {Verdict::Warn, "settings: no " + config.settingsFile + ", so monitoring is off (horavelctl settings reset)"};
    if (!file.bytes) return {Verdict::Fail, "settings: " + config.settingsFile + ": " + file.error};
    if (!file.info || !writableOnlyByRoot(*file.info)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", file.info ? file.info->mode & 07777 : 0);
        return {Verdict::Fail, "settings: " + config.settingsFile + " is not root's alone (owner " +
                                   std::to_string(file.info ? file.info->uid : 0) + ", mode " + mode +
                                   "), so the daemon ignores it (horavelctl settings reset)"};
    }
    DecodeResult plist = readPropertyList(*file.bytes);
    if (!plist.ok() || !plist.value.dictionary()) {
        return {Verdict::Fail, "settings: " + config.settingsFile + " is not a settings dictionary (horavelctl settings reset)"};
    }
    netmon = static_cast<uint32_t>(plist.value["netmon"].intValue());
    appmon = static_cast<uint32_t>(plist.value["appmon"].intValue());
    if (const std::string* method = plist.value["netmethod"].string()) netmethod = *method;
    return {plist.value["status"].intValue() != 0 ? Verdict::Ok : Verdict::Warn,
            "settings: " + config.settingsFile + " trusted, monitoring " +
                (plist.value["status"].intValue() != 0 ? "on" : "off")};
}

bool mountedNoexec(const std::string& mounts, const std::string& point) {
    std::istringstream lines(mounts);
    std::string device, where, type, options, line;
    bool noexec = false;
    // The last mount at the point is the one in effect.
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        if (fields >> device >> where >> type >> options && where == point) {
            noexec = ("," + options + ",").find(",noexec,") != std::string::npos;
        }
    }
    return noexec;
}

}  // namespace

std::vector<Check> runChecks(const Config& config, const DoctorPaths& paths) {
    std::vector<Check> checks;
    checks.push_back(daemonCheck(config, paths));
    uint32_t netmon = 0, appmon = 0;
    std::string netmethod = "firewall";
    checks.push_back(settingsCheck(config, netmon, appmon, netmethod));
    StoreFacts store = storeFacts(config);
    checks.insert(checks.end(), store.entries.begin(), store.entries.end());

    ReadResult stack = readRegularFile(paths.pamAccountStack, kMaxFile);
    const bool profile = pathExists(paths.pamProfile);
    const bool enabled = stack.bytes && stack.bytes->find("pam_horavel.so") != std::string::npos;
    checks.push_back(enabled ? Check{Verdict::Ok, "login check: pam_horavel.so is in " + paths.pamAccountStack}
                             : Check{Verdict::Warn, std::string("login check: not enabled, so a child whose time is up can "
                                                                "log in again") +
                                                        (profile ? " (pam-auth-update --enable horavel)" : "")});

    if (store.networkRanges && netmon != 0 && netmethod != "interface") {
        const int status = runProgramWithInput(paths.nftables, "");
        checks.push_back(status == 0 ? Check{Verdict::Ok, "network ranges: nftables works"}
                                     : Check{Verdict::Fail, "network ranges: nftables does not work here, so the "
                                                            "network is never switched off (apt install nftables)"});
    } else if (store.networkRanges && netmon != 0) {
        const bool found = std::any_of(paths.ifconfig.begin(), paths.ifconfig.end(),
                                       [](const std::string& p) { return ::access(p.c_str(), X_OK) == 0; });
        checks.push_back(found ? Check{Verdict::Ok, "network ranges: ifconfig present"}
                               : Check{Verdict::Fail, "network ranges: ifconfig missing, so the network is never switched "
                                                      "(apt install net-tools)"});
    }
    checks.push_back(pathExists(paths.trayAutostart)
                         ? Check{Verdict::Ok, "tray: autostart entry " + paths.trayAutostart + " present"}
                         : Check{Verdict::Warn, "tray: no autostart entry " + paths.trayAutostart +
                                                    ", so the child sees no time left"});
    checks.push_back(pathExists(paths.timeSynchronised)
                         ? Check{Verdict::Ok, "clock: synchronised (systemd-timesyncd)"}
                         : Check{Verdict::Warn, "clock: not known to be synchronised (timedatectl set-ntp true); a "
                                                "clock set back gives time back"});
    if (store.applications && appmon != 0) {
        ReadResult mounts = readRegularFile(paths.mounts, kMaxFile);
        for (const char* point : {"/home", "/tmp"}) {
            const bool noexec = mounts.bytes && mountedNoexec(*mounts.bytes, point);
            checks.push_back(noexec ? Check{Verdict::Ok, std::string(point) + ": mounted noexec"}
                                    : Check{Verdict::Warn, std::string(point) + ": not mounted noexec, so a renamed copy "
                                                                                "of a game escapes its limit"});
        }
    }
    return checks;
}

int runDoctor(const Config& config, const DoctorPaths& paths, std::ostream& out) {
    bool failed = false;
    for (const Check& check : runChecks(config, paths)) {
        failed = failed || check.verdict == Verdict::Fail;
        out << (check.verdict == Verdict::Ok ? "ok   " : check.verdict == Verdict::Warn ? "warn " : "fail ") << check.line
            << "\n";
    }
    return failed ? 1 : 0;
}

}  // namespace hv
