#include "tools/status_command.h"

#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstring>
#include <ostream>

#include "daemon/monitor.h"
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

std::string twoDigits(int32_t n) { return (n < 10 ? "0" : "") + std::to_string(n); }

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

std::string describeChannel(const std::array<int32_t, 5>& w) {
    const int32_t rmin = w[0], nmin = w[1], warn = w[2], rsec = w[3], back = w[4];
    std::string time;
    if (rmin < 0) time = "not shown";
    else if ((warn & kRecordNoTimeLeft) != 0) time = "none (used up)";
    else if (rmin == 0 && rsec <= 0) time = "no limit today";
    else time = std::to_string(rmin) + " min" + (rsec > 0 ? " " + std::to_string(rsec) + " s" : "");
    std::string net = nmin == -1 ? "no network limit" : std::to_string(nmin) + " min of network time";
    if (nmin == -2) {
        net = back >= 0 && back < 24 * 60 ? "network off until " + twoDigits(back / 60) + ":" + twoDigits(back % 60)
                                          : "network off for the rest of the day";
    }
    return "time left " + time + "; " + net + "; warned " + ((warn & kRecordWarned) != 0 ? "yes" : "no") + " (rmin " +
           std::to_string(rmin) + ", nmin " + std::to_string(nmin) + ", warn " + std::to_string(warn) +
           ", rsec " + std::to_string(rsec) + ")";
}

int runStatus(const Config& config, const std::function<std::optional<std::string>()>& consoleUser,
              std::ostream& out) {
    DaemonState daemon = probeDaemon(config);
    out << "Daemon:     ";
    if (daemon.running) out << "running, pid " << *daemon.pid << "\n";
    else out << "not running (" << daemon.note << ")\n";
    out << "Monitoring: " << monitoring(config) << "\n";
    auto user = consoleUser();
    out << "Console:    " << (user ? *user : std::string("nobody")) << "\n";
    auto words = readChannel(config.shmKey);
    out << "Channel:    " << (words ? describeChannel(*words) : std::string("no channel")) << "\n";
    return daemon.running ? 0 : 3;
}

}  // namespace hv
