#include "daemon/monitor.h"
#include "foundation/property_list.h"

namespace hv {

namespace {

// A template is kept only when it is text; anything else counts as an absent template.
std::optional<std::string> templateOf(const Value& value) {
    if (const std::string* text = value.string()) {
        return *text;
    }
    return std::nullopt;
}

uint32_t numberOf(const Value& value) {
    return static_cast<uint32_t>(value.intValue());
}

// The disk check period used when the configured one wraps to nothing: a zero-second repeating
// timer would spin the loop.
constexpr uint32_t kFallbackDiskPeriod = 15 * 60;

}  // namespace

void Monitor::loadUserStatus() {
    // A settings file that is missing, unreadable, not a property list or not a dictionary
    // leaves every setting as it was.
    ReadResult read = system.readFile(config.settingsFile, kMaxFileBytes);
    // Settings switch monitoring for every account, so only a file that root alone could have
    // written counts: one that another account can change would let a child switch it off.
    const bool firewallBefore = firewallMethod();
    if (read.bytes && !(read.info && writableOnlyByRoot(*read.info))) {
        logIt("settings file " + config.settingsFile +
              " ignored: not owned by root and writable only by root");
    } else if (read.bytes) {
        DecodeResult decoded = readPropertyList(*read.bytes);
        if (decoded.ok() && decoded.value.dictionary() != nullptr) {
            const Value& dict = decoded.value;
            status = numberOf(dict["status"]);
            keeplimit = numberOf(dict["keeplimit"]);
            warntime = numberOf(dict["warntime"]);
            warn = templateOf(dict["warnmsg"]);
            warnonce = numberOf(dict["warnonce"]);
            appwarn = templateOf(dict["appmsg"]);
            ranges = templateOf(dict["rangemsg"]);
            logout = templateOf(dict["logoutmsg"]);
            diskfull = templateOf(dict["diskmsg"]);
            grantmsg = templateOf(dict["grantmsg"]);
            showremain = numberOf(dict["showremain"]);
            hideremain = numberOf(dict["hideremain"]);
            diskmon = numberOf(dict["diskmon"]);
            netmon = numberOf(dict["netmon"]);
            netmethod = templateOf(dict["netmethod"]);
            appmon = numberOf(dict["appmon"]);
            disktime = numberOf(dict["diskmontime"]);
            tracksleep = numberOf(dict["tracksleep"]);
            timeout = dict["notimeout"].intValue() == 1 ? 0.0f : 1.0f;
        }
    }

    // The lower bound is tested as unsigned, so a negative interval is kept (and is long).
    if (disktime <= 14) {
        disktime = 15;
    }
    isRunning = status != 0;
    // Monitoring switched off gives the network back; so does a change of method, whose next
    // check switches it off again the new way.
    if (networkOffFor && (!isRunning || firewallMethod() != firewallBefore)) {
        interfaceUp();
    }

    // The disk timer is made once; later reloads keep its first period.
    if (!diskmontimer) {
        uint32_t period = disktime * 60u;
        if (period == 0) {
            period = kFallbackDiskPeriod;
        }
        system.addTimer(static_cast<double>(period), [this] { checkDiskUsage(); });
        diskmontimer = true;
    }

    logIt("preferences loaded");
}

}  // namespace hv
