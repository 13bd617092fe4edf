#pragma once

// The process table, read from /proc.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"

namespace hv {

// What earlier scans learned of the owners of processes, so that a scan need not ask the kernel
// again about a process that cannot have become one of the wanted accounts' since. A process is
// known by its pid and the inode number of its /proc entry: a process under a reused pid gets a
// new entry, and with it a new number. Owned by the caller, one per sequence of scans.
struct ProcessOwners {
    struct Known {
        pid_t pid = 0;
        ino_t inode = 0;
        uid_t uid = 0;
    };
    std::vector<Known> known;  // those the last scan listed, pids ascending
    unsigned scansSinceFull = 0;
};

// Scans between two that ask the kernel the owner of every process, whatever `ProcessOwners` knows.
inline constexpr unsigned kFullOwnerScanEvery = 10;

// One pass over `procRoot`: the processes whose effective uid is one of `uids`, in the order
// /proc lists them, as System::scanProcesses describes. The owner of each /proc/PID directory
// (its effective uid, which the kernel keeps there whatever the process's dumpable state) picks
// the processes; only theirs are read further: /proc/PID/stat for the command name and start
// time, and /proc/PID/exe where `wantsExecutable` asks for it. Zombies are left out: they run
// nothing and no signal reaches them. nullopt when `procRoot` cannot be listed.
//
// With `owners`, the owner of a process is taken from it instead of the kernel when the process
// is the same one an earlier scan saw, was then neither root's nor one of `uids`'s, and fewer than
// kFullOwnerScanEvery scans have passed since every owner was asked; `owners` is then brought up
// to date. Root's processes and the accounts' own are asked at every scan: root can take on an
// account's uid in place (a set-uid program that drops to the account and runs the game). Another
// account's process can only do so by running a program set-uid to the account, or when it holds
// the account's uid already as its real or saved uid (a program set-uid to another account, started
// by the account); the full scans catch those.
std::optional<std::vector<ProcessEntry>> scanProcessTable(
    const std::vector<uid_t>& uids, const std::function<bool(const ProcessEntry&)>& wantsExecutable,
    const std::string& procRoot = "/proc", ProcessOwners* owners = nullptr);

// The process `pid` as /proc/PID/stat shows it now, its uid from the /proc/PID directory it was
// read through; nullopt when none (or a zombie).
std::optional<ProcessEntry> readProcess(pid_t pid, const std::string& procRoot = "/proc");

// The command name, state letter and start time of a /proc/PID/stat line: the name is what stands
// between the first "(" and the last ")" (it may itself hold blanks and parentheses), the state is
// field 3, the start time field 22. False when the line is not of that form.
bool parseProcessStat(const std::string& line, ProcessEntry& entry, char& state);

}  // namespace hv
