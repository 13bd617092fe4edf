#pragma once

// Looks up accounts in the user database.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/linux/file_stamp.h"

namespace hv {

// Walks the user database with getpwent from its first entry and returns the uid of the first
// entry whose name equals `name` byte for byte, or -1 when none does.
int32_t uidByName(const std::string& name);

// uidByName with its answers kept while the user database file (`passwd`) stays the same file,
// unwritten: a walk costs the C library's loading of its sources every time, a stat does not.
// Answers from sources other than the file (a directory service) are kept as long; a name not
// found is asked again every time.
class UidCache {
public:
    explicit UidCache(std::string passwd = "/etc/passwd") : passwd_(std::move(passwd)) {}
    int32_t uidByName(const std::string& name);

private:
    std::string passwd_;
    std::optional<FileStamp> stamp_;
    std::map<std::string, int32_t> uids_;
};

}  // namespace hv
