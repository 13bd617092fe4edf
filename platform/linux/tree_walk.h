#pragma once

// A physical walk of a directory tree: links are entries of their own, never followed,
// so no link can make the walk loop or count anything twice.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace hv {

struct TreeEntry {
    std::string_view path;  // valid only during the call
    uint64_t size = 0;      // st_size as lstat() gives it (a link's own size)
    bool directory = false;
};

// Calls `entry` once for every entry below `root`, hidden ones included, directories as well
// (before their contents). The root itself is not reported; a root that is a link to a directory
// is entered (the administrator's choice of home), links below it are not. Entries whose
// attributes cannot be read are skipped. Returns false when the root is missing, unreadable or
// not a directory.
bool walkTree(const std::string& root, const std::function<void(const TreeEntry&)>& entry);

// The same walk reporting sizes only, as System::walkTree gives them: a directory is reported
// with size 0, since it holds no file data of its own to count against a quota.
bool walkTreeSizes(const std::string& root, const std::function<void(uint64_t)>& entry);

}  // namespace hv
