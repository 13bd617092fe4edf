#include "platform/linux/users.h"

#include <pwd.h>

namespace hv {

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

}  // namespace hv
