#include <sys/socket.h>

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "common/table_element.h"
#include "daemon/monitor.h"
#include "common/range_records.h"

namespace hv {
namespace {

// Interface names come from the kernel, and Linux allows shell metacharacters in them. The
// ordinary name goes into the command as it is; any other is single-quoted, so the shell sees
// one word whatever it holds.
std::string shellWord(const std::string& name) {
    const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-' || c == '@' || c == '+';
    });
    if (plain) return name;
    std::string quoted = "'";
    for (char c : name) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The IPv4 records of interfaces that are up and not loopbacks, in the kernel's order, named as
// interfaces (an alias such as eth0:1 is eth0).
std::vector<std::pair<std::string, std::string>> upInterfaces(System& system) {
    std::vector<std::pair<std::string, std::string>> found;
    const auto list = system.interfaces();
    if (!list) return found;
    for (const InterfaceEntry& entry : *list) {
        if (entry.family != AF_INET || !entry.up) continue;
        const std::string name = entry.name.substr(0, entry.name.find(':'));
        if (std::string_view(name).substr(0, 2) == "lo") continue;
        found.emplace_back(name, entry.address);
    }
    return found;
}

}  // namespace

bool Monitor::firewallMethod() const { return netmethod != "interface"; }

void Monitor::getInterface() {
    for (const auto& [name, address] : upInterfaces(system)) {
        interface = name;
        logIt("monitor " + name + " / " + address);
    }
}

void Monitor::interfaceUp() {
    if (blockedUid && system.setNetworkBlocked(*blockedUid, false)) blockedUid.reset();
    for (const std::string& name : switchedOff) system.runShell("ifconfig " + shellWord(name) + " up");
    switchedOff.clear();
    ifStatus = !blockedUid;
    if (networkOffFor && ifStatus) {
        logIt("network on for " + *networkOffFor);
        networkOffFor.reset();
    }
}

void Monitor::interfaceDown() {
    // Another account's network is given back first (its rule must not outlive its session).
    if (networkOffFor && networkOffFor != user) interfaceUp();
    ifStatus = false;
    if (!user) return;
    if (firewallMethod()) {
        if (!blockedUid) {
            const int32_t uid = uidByName(system, *user);
            // An account the user database does not know, or a firewall that cannot be changed:
            // nothing is off, and the next tick tries again.
            if (uid < 0 || !system.setNetworkBlocked(static_cast<uid_t>(uid), true)) return;
            blockedUid = static_cast<uid_t>(uid);
        }
    } else {
        // On every call, so that an interface that came up since (a tether, or one switched on
        // again by hand) goes down too; one that is down already is left alone.
        std::vector<std::string> now;
        for (const auto& [name, address] : upInterfaces(system)) {
            if (std::find(now.begin(), now.end(), name) != now.end()) continue;
            now.push_back(name);
            system.runShell("ifconfig " + shellWord(name) + " down");
            if (std::find(switchedOff.begin(), switchedOff.end(), name) == switchedOff.end()) {
                switchedOff.push_back(name);
            }
        }
    }
    if (!networkOffFor) {
        networkOffFor = user;
        logIt("network off for " + *user);
    }
}

// The network is on from a range's start minute up to the minute before its end, and off outside
// every range. "Down" is asked for on every tick while off (it acts only on what is still on);
// "up" only on a change.
void Monitor::checkNetRange(int32_t index) {
    if (index < 0) return;
    auto limit = recordAt(userlist, static_cast<size_t>(index));
    if (!limit) return;

    const CalendarDate today = calendarDate();
    const uint32_t now = static_cast<uint32_t>(today.hourOfDay() * 60 + today.minuteOfHour());
    const int64_t first = int64_t{index} + 2 * int64_t{std::max(limit->ranges(), 0)} + 1;
    const RangeList list(userlist, first, limit->netranges(), today.dayOfWeek());

    bool outside = false;
    for (int64_t i = 0; i < list.size(); ++i) {
        const DayRange range = list[i];
        if (range.unset()) continue;
        if (range.start <= now && now <= range.end) {
            nrmin = range.end - now;
            if (nrmin != 0) {
                if (!ifStatus) interfaceUp();
                return;
            }
            outside = true;
            break;
        }
        starttime = static_cast<int32_t>(range.start);
        endtime = static_cast<int32_t>(range.end);
        outside = true;
    }
    if (!outside) {
        if (!ifStatus) interfaceUp();
        return;
    }
    nrmin = static_cast<uint32_t>(-2);
    // What the status and the tray tell the user: the next range to begin today.
    netback = -1;
    for (int64_t i = 0; i < list.size(); ++i) {
        const DayRange range = list[i];
        if (range.unset() || range.start <= now || range.start > 1439) continue;
        if (netback == -1 || range.start < static_cast<uint32_t>(netback)) netback = static_cast<int32_t>(range.start);
    }
    interfaceDown();
}

}  // namespace hv
