#include "common/policy_store.h"
#include "daemon/monitor.h"

namespace hv {

namespace {

// A request is an empty file; anything longer is not one of ours.
constexpr size_t kMaxRequestBytes = 64;

}  // namespace

void Monitor::takeLogoutRequests() {
    const std::string directory = config.storeLogoutDirectory();
    const std::optional<std::vector<std::string>> names = system.listDirectory(directory);
    if (!names) return;
    for (const std::string& name : *names) {
        const std::string path = directory + "/" + name;
        const ReadResult read = system.readFile(path, kMaxRequestBytes);
        // Removed before acting, so a request is carried out once even if the ending below
        // brings another signal; one that cannot be removed is not acted on, or every reload
        // would end the account again.
        if (!system.removeFile(path)) {
            logIt("logout request " + path + " cannot be removed; ignored");
            continue;
        }
        if (!read.bytes || !read.info || !writableOnlyByRoot(*read.info) || !usableAccountName(name)) {
            logIt("logout request " + path + " ignored: not a root-owned request for an account");
            continue;
        }
        logIt("logout of " + name + " requested");
        endAccount(name);
    }
}

}  // namespace hv
