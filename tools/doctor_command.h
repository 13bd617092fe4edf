#pragma once

// `horavelctl doctor`: one line per check of the installation, "ok", "warn" or "fail", and a
// non-zero exit status when any check fails.

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/config.h"

namespace hv {

// Where the checks look; the defaults are the real places, tests point them elsewhere.
struct DoctorPaths {
    std::string procRoot = "/proc";
    std::string mounts = "/proc/self/mounts";
    std::string pamProfile = "/usr/share/pam-configs/horavel";
    std::string pamAccountStack = "/etc/pam.d/common-account";
    std::string trayAutostart = "/etc/xdg/autostart/horavelmenu.desktop";
    // systemd-timesyncd touches this once the clock is synchronised.
    std::string timeSynchronised = "/run/systemd/timesync/synchronized";
    std::vector<std::string> ifconfig = {"/usr/sbin/ifconfig", "/sbin/ifconfig"};
    // A command that succeeds when nftables works here (the firewall method's rules).
    std::vector<std::string> nftables = {"/usr/sbin/nft", "list", "tables"};
};

enum class Verdict { Ok, Warn, Fail };

struct Check {
    Verdict verdict;
    std::string line;  // what was found, and what it means
};

// Every check, in a fixed order: the one daemon and its pid file; the settings file trusted; each
// managed account's store entry readable; the login check enabled; when network ranges are
// enforced, nftables working (the firewall method) or ifconfig present (the interface method); the tray's autostart entry; the clock synchronised; /home and /tmp mounted
// noexec when applications are limited.
std::vector<Check> runChecks(const Config& config, const DoctorPaths& paths);

// Prints the checks ("ok   ...", "warn ...", "fail ..."); exit status 1 when any failed.
int runDoctor(const Config& config, const DoctorPaths& paths, std::ostream& out);

}  // namespace hv
