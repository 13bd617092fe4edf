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

    // The root-held store: only root can read or write below it, so what it holds is the
    // administrator's word and the daemon's own counts, never the child's.
    std::string storeRoot = "/var/lib/horavel";
    // Held with an exclusive lock by the one running daemon.
    std::string lockFile = "/run/horaveld.lock";

    std::string policyPath(const std::string& user) const {
        return homeRoot + "/" + user + "/.horavel";
    }
    // The store's copy of an account's policy, its previous good copy, and the small per-account
    // facts that the daemon keeps for others (the login check).
    std::string storePolicyPath(const std::string& user) const {
        return storeRoot + "/policies/" + user + ".horavel";
    }
    std::string storePreviousPath(const std::string& user) const {
        return storePolicyPath(user) + ".prev";
    }
    std::string storeStatePath(const std::string& user) const {
        return storeRoot + "/state/" + user;
    }
    // Where `horavelctl logout` leaves its requests, one empty root-only file per account, for
    // the daemon to take on SIGHUP.
    std::string storeLogoutDirectory() const { return storeRoot + "/logout"; }
    // The extra minutes of the day given to an account (common/grant.h).
    std::string storeGrantPath(const std::string& user) const {
        return storeRoot + "/grants/" + user;
    }
    // The usage history of every account (common/sqlite_history.h).
    std::string storeHistoryPath() const { return storeRoot + "/history.sqlite"; }
    // The daemon's history not yet folded into the database (common/history_journal.h).
    std::string storeHistoryJournalPath() const { return storeRoot + "/history.journal"; }
};

}  // namespace hv
