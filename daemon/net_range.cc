#include <sys/socket.h>

#include <algorithm>
#include <string_view>

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

}  // namespace

// Every IPv4 record of an interface that is up and not a loopback is logged; the last one in the
// kernel's order is the interface the network ranges switch.
void Monitor::getInterface() {
    // The interface switched off no longer shows as up: choosing afresh now would leave it down
    // for good while another took its place. It stays the controlled one until it is on again.
    if (!ifStatus && interface) return;
    const auto list = system.interfaces();
    if (!list) return;
    for (const InterfaceEntry& entry : *list) {
        if (entry.family != AF_INET) continue;
        const std::string name = entry.name.substr(0, entry.name.find(':'));
        if (!entry.up) continue;
        if (std::string_view(name).substr(0, 2) == "lo") continue;
        interface = name;
        logIt("monitor " + name + " / " + entry.address);
    }
}

// With no interface ever found there is nothing to switch, so no command runs. `ifStatus`
// follows the last switch asked for, so that the interface brought up by a first tick counts as
// on again, and the next reload may choose afresh.
void Monitor::interfaceUp() {
    ifStatus = true;
    if (!interface) return;
    system.runShell("ifconfig " + shellWord(*interface) + " up");
}

void Monitor::interfaceDown() {
    ifStatus = false;
    if (!interface) return;
    system.runShell("ifconfig " + shellWord(*interface) + " down");
}

// The network is on from a range's start minute up to the minute before its end, and off outside
// every range. "Down" is repeated on every tick while off; "up" runs only on a change.
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
    interfaceDown();
}

}  // namespace hv
