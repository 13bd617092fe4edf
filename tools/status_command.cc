#include "tools/status_command.h"

#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <ostream>

#include "common/grant.h"
#include "daemon/monitor.h"
#include "foundation/calendar_date.h"
#include "tools/grant_command.h"
#include "tools/json_codec.h"
#include "foundation/property_list.h"
#include "installtool/install.h"
#include "platform/linux/files.h"

namespace hv {
namespace {

constexpr const char* kDaemonName = "horaveld";

std::string monitoring(const Config& config) {
    ReadResult file = readRegularFile(config.settingsFile, 1 << 20);
    if (file.missing) return "off (no settings file at " + config.settingsFile + ")";
    if (!file.bytes) return "unknown (" + config.settingsFile + ": " + file.error + ")";
    DecodeResult plist = readPropertyList(*file.bytes);
    if (!plist.ok() || !plist.value.dictionary()) return "unknown (" + config.settingsFile + " is not a settings dictionary)";
    return plist.value["status"].intValue() != 0 ? "on" : "off";
}

std::string clockText(int minute) {
    minute = ((minute % 1440) + 1440) % 1440;
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", minute / 60, minute % 60);
    return text;
}

}  // namespace

DaemonState probeDaemon(const Config& config, const std::string& procRoot) {
    DaemonState state;
    ReadResult file = readRegularFile(config.pidFile, 64);
    if (!file.bytes) {
        state.note = file.missing ? "no pid file " + config.pidFile : config.pidFile + ": " + file.error;
        return state;
    }
    state.pid = parsePid(*file.bytes);
    if (!state.pid) {
        state.note = config.pidFile + " holds no process id";
        return state;
    }
    if (::kill(*state.pid, 0) != 0 && errno != EPERM) {
        state.note = "process " + std::to_string(*state.pid) + " named in " + config.pidFile + " is gone";
        return state;
    }
    ReadResult comm = readRegularFile(procRoot + "/" + std::to_string(*state.pid) + "/comm", 64);
    std::string name = comm.bytes ? *comm.bytes : "";
    while (!name.empty() && name.back() == '\n') name.pop_back();
    if (name != kDaemonName) {
        state.note = "process " + std::to_string(*state.pid) + " named in " + config.pidFile + " is " +
                     (name.empty() ? std::string("unknown") : "\"" + name + "\"") + ", not " + kDaemonName;
        return state;
    }
    state.running = true;
    return state;
}

std::optional<std::array<int32_t, 5>> readChannel(key_t key) {
    int id = ::shmget(key, 0, 0);
    if (id < 0) return std::nullopt;
    void* address = ::shmat(id, nullptr, SHM_RDONLY);
    if (address == reinterpret_cast<void*>(-1)) return std::nullopt;
    std::array<int32_t, 5> words{};
    std::memcpy(words.data(), address, sizeof words);
    ::shmdt(address);
    return words;
}

std::string describeConsole(const ConsoleFacts& facts) {
    if (!facts.user) return "Nobody is at the console.";
    std::string text = *facts.user + " is at the console: ";
    if (!facts.record) return text + "the daemon publishes nothing (no remaining-time record)";
    const int32_t rmin = (*facts.record)[0], nmin = (*facts.record)[1], warn = (*facts.record)[2],
                  rsec = (*facts.record)[3];
    if (rmin < 0) text += "no limit today (the time left is hidden)";
    else if ((warn & kRecordNoTimeLeft) != 0) text += "no time left today";
    else if (rmin == 0 && rsec <= 0) text += "no limit today";
    else if (rsec > 0) text += std::to_string(rmin) + " min " + std::to_string(rsec) + " s left today";
    else text += std::to_string(rmin) + (rmin == 1 ? " minute" : " minutes") + " left today";
    if (facts.allowance && *facts.allowance != 0) {
        text += " (of " + std::to_string(grantedAllowance(*facts.allowance, facts.granted));
        if (facts.granted > 0) text += ", " + std::to_string(facts.granted) + " given";
        if (facts.granted < 0) text += ", " + std::to_string(-static_cast<int64_t>(facts.granted)) + " taken away";
        text += ")";
    }
    if (nmin >= 0) text += ", network until " + clockText(facts.minuteOfDay + nmin);
    if (nmin == -2) {
        const int32_t back = (*facts.record)[4];
        text += back >= 0 && back < 1440 ? ", network off until " + clockText(back) : ", network off for the rest of the day";
    }
    if ((warn & kRecordWarned) != 0) text += ", warned";
    return text;
}

namespace {

ConsoleFacts gatherFacts(const Config& config, const std::function<std::optional<std::string>()>& consoleUser) {
    const double now = static_cast<double>(::time(nullptr));
    ConsoleFacts facts;
    facts.user = consoleUser();
    facts.record = readChannel(config.shmKey);
    if (facts.user) {
        if (auto today = todaysAllowance(config, *facts.user, now)) {
            facts.allowance = today->allowance;
            facts.granted = today->granted;
        }
    }
    const CalendarDate local(now);
    facts.minuteOfDay = local.hourOfDay() * 60 + local.minuteOfHour();
    return facts;
}

Json statusOf(const Config& config, const DaemonState& daemon, const ConsoleFacts& facts) {
    return {{"daemon", {{"running", daemon.running}, {"pid", daemon.pid ? Json(*daemon.pid) : Json()},
                        {"note", daemon.note}}},
            {"monitoring", monitoring(config)},
            {"console", facts.user ? Json(*facts.user) : Json()},
            {"allowance", facts.allowance ? Json(*facts.allowance) : Json()},
            {"granted", facts.granted},
            {"record", facts.record ? Json({{"rmin", (*facts.record)[0]}, {"nmin", (*facts.record)[1]},
                                            {"warn", (*facts.record)[2]}, {"rsec", (*facts.record)[3]},
                                            {"networkBack", (*facts.record)[4]}})
                                    : Json()}};
}

}  // namespace

Json statusJson(const Config& config, const std::function<std::optional<std::string>()>& consoleUser) {
    return statusOf(config, probeDaemon(config), gatherFacts(config, consoleUser));
}

int runStatus(const Config& config, const std::function<std::optional<std::string>()>& consoleUser, bool asJson,
              std::ostream& out) {
    const DaemonState daemon = probeDaemon(config);
    const ConsoleFacts facts = gatherFacts(config, consoleUser);
    if (asJson) {
        out << statusOf(config, daemon, facts).dump(2) << "\n";
        return daemon.running ? 0 : 3;
    }
    out << "Daemon:     ";
    if (daemon.running) out << "running, pid " << *daemon.pid << "\n";
    else out << "not running (" << daemon.note << ")\n";
    out << "Monitoring: " << monitoring(config) << "\n";
    out << describeConsole(facts) << "\n";
    return daemon.running ? 0 : 3;
}

}  // namespace hv
