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

std::optional<CommandError> requestLogout(const Config& config, const std::string& user, const ReloadSignal& reload,
                                          std::ostream& out) {
    if (!usableAccountName(user) || ::getpwnam(user.c_str()) == nullptr) {
        return invalidRequest("horavelctl logout: no such user \"" + user + "\"");
    }
    const std::string request = config.storeLogoutDirectory() + "/" + user;
    if (!makeRootDirectory(config.storeRoot, kStoreDirectoryMode) ||
        !makeRootDirectory(config.storeLogoutDirectory(), kStoreDirectoryMode) ||
        !writeFileAtomically(request, "", kRequestMode, FileOwner{0, 0})) {
        return failedRequest("horavelctl logout: cannot write " + request);
    }
    if (!reload()) {
        removePath(request);
        return failedRequest("horavelctl logout: horaveld is not running, so nothing was ended (systemctl start horaveld)");
    }
    out << "Asked horaveld to log " << user << " out now.\n";
    return std::nullopt;
}

int runLogout(const Config& config, const std::string& user, const ReloadSignal& reload, std::ostream& out,
              std::ostream& err) {
    if (auto error = requestLogout(config, user, reload, out)) {
        err << error->line << "\n";
        return 1;
    }
    return 0;
}

}  // namespace hv
