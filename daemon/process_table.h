#pragma once

// One look at the process table, shared by the lookups of a tick, and what makes a process a
// given application.

#include <sys/types.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace hv {

// The kernel keeps the first 15 characters of a command name.
inline constexpr size_t kCommLength = 15;

// Where an application's name is looked up to find its executable: root's own fixed search path,
// never the child's PATH, which the child sets.
inline constexpr std::array<const char*, 6> kSystemPath = {
    "/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin"};

// The processes of some accounts as one scan saw them.
struct ProcessTable {
    std::vector<uid_t> uids;   // whose processes it holds
    bool executables = false;  // whether it read the executables that command names left open
    std::vector<ProcessEntry> entries;

    // Whether it can answer a lookup of `uid`'s processes (with executables, when needed).
    bool covers(uid_t uid, bool needExecutables) const;
};

// The kernel's form of a command name: its first kCommLength characters.
std::string commandName(const std::string& name);

// Whether `process` is the application `name`: its command name is the kernel's form of `name`,
// or its executable's file name is `name`, or its executable is the very file `onPath` (device
// and inode: a link to the application, or another name of the same file, is the application).
// A process whose executable was not read matches by its command name alone.
bool isApplication(const ProcessEntry& process, const std::string& name,
                   const std::optional<FileInfo>& onPath);

}  // namespace hv
