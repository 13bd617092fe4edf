#include "tools/logout_command.h"

#include <pwd.h>

#include <ostream>

#include "common/policy_store.h"
#include "platform/linux/files.h"

namespace hv {

namespace {

constexpr mode_t kStoreDirectoryMode = 0700;
constexpr mode_t kRequestMode = 0600;

}  // namespace

int runLogout(const Config& config, const std::string& user, const ReloadSignal& reload, std::ostream& out,
              std::ostream& err) {
    if (!usableAccountName(user) || ::getpwnam(user.c_str()) == nullptr) {
        err << "horavelctl logout: no such user \"" << user << "\"\n";
        return 1;
    }
    const std::string request = config.storeLogoutDirectory() + "/" + user;
    if (!makeRootDirectory(config.storeRoot, kStoreDirectoryMode) ||
        !makeRootDirectory(config.storeLogoutDirectory(), kStoreDirectoryMode) ||
        !writeFileAtomically(request, "", kRequestMode, FileOwner{0, 0})) {
        err << "horavelctl logout: cannot write " << request << "\n";
        return 1;
    }
    if (!reload()) {
        removePath(request);
        err << "horavelctl logout: horaveld is not running, so nothing was ended (systemctl start horaveld)\n";
        return 1;
    }
    out << "Asked horaveld to log " << user << " out now.\n";
    return 0;
}

}  // namespace hv
