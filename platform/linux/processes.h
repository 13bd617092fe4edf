#pragma once

// The process table, read from /proc.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace hv {

// One pass over `procRoot`: the processes whose effective uid is one of `uids`, in the order
// /proc lists them, as System::scanProcesses describes. The owner of each /proc/PID directory
// (its effective uid, which the kernel keeps there whatever the process's dumpable state) picks
// the processes; only theirs are read further: /proc/PID/stat for the command name and start
// time, and /proc/PID/exe where `wantsExecutable` asks for it. Zombies are left out: they run
// nothing and no signal reaches them. nullopt when `procRoot` cannot be listed.
std::optional<std::vector<ProcessEntry>> scanProcessTable(
    const std::vector<uid_t>& uids, const std::function<bool(const ProcessEntry&)>& wantsExecutable,
    const std::string& procRoot = "/proc");

// The process `pid` as /proc/PID/stat shows it now, its uid from the /proc/PID directory it was
// read through; nullopt when none (or a zombie).
std::optional<ProcessEntry> readProcess(pid_t pid, const std::string& procRoot = "/proc");

// The command name, state letter and start time of a /proc/PID/stat line: the name is what stands
// between the first "(" and the last ")" (it may itself hold blanks and parentheses), the state is
// field 3, the start time field 22. False when the line is not of that form.
bool parseProcessStat(const std::string& line, ProcessEntry& entry, char& state);

}  // namespace hv
