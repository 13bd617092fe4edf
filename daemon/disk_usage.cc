#include <sys/stat.h>

#include <cstdio>

#include "daemon/monitor.h"

namespace hv {
namespace {

// Each file counts in whole 4096-byte blocks of the low 32 bits of its size; the rounding wraps
// within 32 bits, as the quota arithmetic always has.
uint32_t countedSize(uint64_t size) {
    const uint32_t low = static_cast<uint32_t>(size);
    return static_cast<uint32_t>(low + 4095u) & ~uint32_t{4095};
}

}  // namespace

// Sums the home directory of the console user and, above the quota, tells the user, logs it and
// runs the account's script. The script runs as root, so it runs only from a policy file that
// only root can have written.
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

    if (!cleanup || cleanup->empty()) return;
    const std::string policy = config.policyPath(*user);
    const auto info = system.fileInfo(policy);
    const bool trusted =
        info && S_ISREG(info->mode) && info->uid == 0 && (info->mode & (S_IWGRP | S_IWOTH)) == 0;
    if (!trusted) {
        logIt("user : " + formatObject(user) + " - script not run: " + policy +
              " is not a file owned by root and writable only by root");
        return;
    }
    system.runShell(*cleanup);
    logIt("user : " + formatObject(user) + " - execute " + *cleanup);
}

}  // namespace hv
