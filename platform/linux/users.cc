#include "platform/linux/users.h"

#include <pwd.h>

namespace hv {

namespace {

// The daemon asks after the console's accounts; a bound keeps hostile names from growing it.
constexpr size_t kMaxCachedNames = 64;

}  // namespace

int32_t uidByName(const std::string& name) {
    int32_t uid = -1;
    setpwent();
    while (const struct passwd* entry = getpwent()) {
        if (entry->pw_name != nullptr && name == entry->pw_name) {
            uid = static_cast<int32_t>(entry->pw_uid);
            break;
        }
    }
    // Closed every time, so the next lookup starts at the first entry again.
    endpwent();
    return uid;
}

int32_t UidCache::uidByName(const std::string& name) {
    // No file (another source alone) keeps nothing: every lookup walks.
    const std::optional<FileStamp> now = stampOf(passwd_);
    if (!now || now != stamp_ || uids_.size() >= kMaxCachedNames) uids_.clear();
    stamp_ = now;
    if (const auto known = uids_.find(name); known != uids_.end()) return known->second;
    const int32_t uid = hv::uidByName(name);
    // A name not found is not kept: it may be a directory service's that did not answer this time.
    if (now && uid != -1) uids_.emplace(name, uid);
    return uid;
}

}  // namespace hv
