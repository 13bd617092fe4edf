#pragma once

// Every path and name the programs use, with the real values as defaults. Tests point these at
// temporary directories and private keys; the programs themselves take no options.

#include <sys/types.h>

#include <string>

namespace hv {

struct Config {
    // The platform's home root: the policy file of an account is "<homeRoot>/<name>/.horavel".
    std::string homeRoot = "/home";
    std::string settingsFile = "/home/.Tovik2.stat";
    std::string pidFile = "/var/run/horavel.pid";
    std::string logFile = "/var/log/hvl.log";
    key_t shmKey = 1500;
    std::string semaphoreName = "1500";
    // The daemon's command name as /proc/PID/comm shows it: a pid file left by a daemon that died
    // may name an unrelated process by now, and that one is never signalled.
    std::string daemonName = "horaveld";
    // Per-user runtime directories: a console user's session bus is "<runtimeRoot>/<uid>/bus".
    std::string runtimeRoot = "/run/user";
    // The system bus, where logind answers.
    std::string systemBusAddress = "unix:path=/run/dbus/system_bus_socket";

    std::string policyPath(const std::string& user) const {
        return homeRoot + "/" + user + "/.horavel";
    }
};

}  // namespace hv
