
#include <cstdio>

#include "common/table_element.h"
#include "daemon/monitor.h"

namespace hv {
namespace {

// Each file counts in whole 4096-byte blocks of the low 32 bits of its size; the rounding wraps
// within 32 bits, as the quota arithmetic always has.
uint32_t countedSize(uint64_t size) {
    const uint32_t low = static_cast<uint32_t>(size);
    return static_cast<uint32_t>(low + 4095u) & ~uint32_t{4095};
}

// The script runs as root, so it must come from a policy only root could have written: the list
// was loaded from such a file, the file is still such a file, and the script is the one that
// list holds now (`cleanup` is taken a tick after a load, so for a moment it can still be the
// previous list's). Returns why it may not run, or "" when it may.
std::string scriptRefusal(Monitor& m) {
    const std::string policy = m.config.policyPath(*m.user);
    const auto info = m.system.fileInfo(policy);
    if (!m.policyTrusted || !info || !writableOnlyByRoot(*info)) {
        return policy + " is not a file owned by root and writable only by root";
    }
    for (size_t i = 0; i < m.userlist.size(); ++i) {
        const auto record = recordAt(m.userlist, i);
        if (!record) continue;
        const std::string* mode = record->mmode().string();
        const std::string* script = record->script().string();
        if (mode && *mode == "Limit" && script && *script == *m.cleanup) return "";
    }
    return "it is not the script of the policy loaded from " + policy;
}

}  // namespace

// Sums the home directory of the console user and, above the quota, tells the user, logs it and
// runs the account's script.
void Monitor::checkDiskUsage() {
    if (diskmon == 0) return;

    uint64_t total = 0;
    if (user && !user->empty()) {
        system.walkTree(config.homeRoot + "/" + *user,
                        [&total](uint64_t size) { total += countedSize(size); });
    }
    if (total <= uint64_t{usersize}) return;

    makeMessage(diskfull);
    showStopNotice();
    char quota[64];
    std::snprintf(quota, sizeof quota, "%5.2f", static_cast<double>(usersize) / 1048576.0);
    logIt("user : " + formatObject(user) + " - disk usage " + quota + " MB exceeded");
    recordEvent(kEventQuota);

    if (!cleanup || cleanup->empty()) return;
    if (const std::string refusal = scriptRefusal(*this); !refusal.empty()) {
        logIt("user : " + formatObject(user) + " - script not run: " + refusal);
        return;
    }
    system.runShell(*cleanup);
    logIt("user : " + formatObject(user) + " - execute " + *cleanup);
}

}  // namespace hv
